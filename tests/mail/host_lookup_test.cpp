#include "mail/connection/host_lookup.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace kingyo {
namespace {

constexpr int kHangGuardMs = 10000;

TEST(HostLookupTest, DeliversTheAnswerOnTheStartingThread)
{
    std::optional<QList<QHostAddress>> answer;
    QThread *deliveredOn = nullptr;
    const HostLookup lookup(QStringLiteral("127.0.0.1"), &HostLookup::resolve);
    QObject::connect(&lookup, &HostLookup::finished, [&](const QList<QHostAddress> &addresses) {
        answer = addresses;
        deliveredOn = QThread::currentThread();
    });
    ASSERT_TRUE(QTest::qWaitFor([&answer] { return answer.has_value(); }, kHangGuardMs));
    EXPECT_EQ(*answer, QList<QHostAddress>{QHostAddress::LocalHost});
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}

// Runs when the lookup's thread lets go of the resolver.
struct OnLastCopy {
    explicit OnLastCopy(std::function<void()> run) : run(std::move(run)) {}
    ~OnLastCopy() { run(); }
    std::function<void()> run;
};

TEST(HostLookupTest, DroppedLookupDeliversNothingAndNeverWaits)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::promise<void> threadDone;
    std::atomic<bool> resolverReturned = false;
    auto doneMark = std::make_shared<OnLastCopy>([&threadDone] { threadDone.set_value(); });
    HostLookup::Resolver resolver = [doneMark, &entered, released = release.get_future().share(),
                                     &resolverReturned](const QString &) {
        entered.set_value();
        released.wait_for(std::chrono::milliseconds(kHangGuardMs));
        resolverReturned = true;
        return QList<QHostAddress>{QHostAddress::LocalHost};
    };
    doneMark.reset();

    int deliveries = 0;
    auto lookup = std::make_unique<HostLookup>(QStringLiteral("pop.example.test"), std::move(resolver));
    QObject::connect(lookup.get(), &HostLookup::finished, [&deliveries] { ++deliveries; });
    entered.get_future().wait();
    lookup.reset();
    EXPECT_FALSE(resolverReturned) << "dropping the lookup waited for its thread";
    release.set_value();
    threadDone.get_future().wait();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(deliveries, 0);
}

}
}
