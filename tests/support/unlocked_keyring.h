#pragma once
#include "support/private_bus.h"

#include <gtest/gtest.h>

namespace kingyo::test {

// One unlocked keyring, on a private session bus, for the whole test process: libsecret
// keeps to the first session bus it finds. Made before the first test and stopped after
// the last; a test file registers it with registerUnlockedKeyring().
class UnlockedKeyring : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

    // The running keyring, or nothing when it could not be started (failure() says why).
    static PrivateBus *bus();
    static QString failure();
};

bool registerUnlockedKeyring();

} // namespace kingyo::test
