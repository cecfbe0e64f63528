#include "support/unlocked_keyring.h"

#include <memory>

namespace kingyo::test {
namespace {

std::unique_ptr<PrivateBus> running;
QString whyNot;

} // namespace

void UnlockedKeyring::SetUp()
{
    auto bus = std::make_unique<PrivateBus>();
    if (!bus->startDaemon() || !bus->startKeyring(PrivateBus::KeyringLock::Unlocked)) {
        whyNot = bus->failure();
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
    running = std::move(bus);
}

void UnlockedKeyring::TearDown() { running.reset(); }

PrivateBus *UnlockedKeyring::bus() { return running.get(); }

QString UnlockedKeyring::failure() { return whyNot; }

bool registerUnlockedKeyring()
{
    ::testing::AddGlobalTestEnvironment(new UnlockedKeyring);
    return true;
}

} // namespace kingyo::test
