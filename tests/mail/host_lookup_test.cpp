#include "mail/host_lookup.h"

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

struct AnswerCase {
    const char *name;
    QString host;
    HostLookup::Resolver resolver;
    QList<QHostAddress> expected;
};

void PrintTo(const AnswerCase &answer, std::ostream *out) { *out << answer.name; }

HostLookup::Resolver answering(QList<QHostAddress> addresses)
{
    return [addresses](const QString &) { return addresses; };
}

class HostLookupAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(HostLookupAnswerTest, DeliversTheAnswerOnTheStartingThread)
{
    std::optional<QList<QHostAddress>> answer;
    QThread *deliveredOn = nullptr;
    const HostLookup lookup(GetParam().host, GetParam().resolver);
    QObject::connect(&lookup, &HostLookup::finished, [&](const QList<QHostAddress> &addresses) {
        answer = addresses;
        deliveredOn = QThread::currentThread();
    });
    ASSERT_TRUE(QTest::qWaitFor([&answer] { return answer.has_value(); }, kHangGuardMs));
    EXPECT_EQ(*answer, GetParam().expected);
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostLookupAnswerTest,
    ::testing::Values(
        AnswerCase{"found", QStringLiteral("pop.example.test"), answering({QHostAddress(QStringLiteral("192.0.2.1"))}),
                   {QHostAddress(QStringLiteral("192.0.2.1"))}},
        AnswerCase{"not_found", QStringLiteral("pop.example.test"), answering({}), {}},
        AnswerCase{"system_numeric", QStringLiteral("127.0.0.1"), &HostLookup::resolve, {QHostAddress::LocalHost}},
        AnswerCase{"system_no_name", QString(), &HostLookup::resolve, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// Runs a callback when the last copy of the resolver goes, which the lookup's thread
// holds until it has posted its answer or dropped it.
struct OnLastCopy {
    explicit OnLastCopy(std::function<void()> run) : run(std::move(run)) {}
    ~OnLastCopy() { run(); }
    std::function<void()> run;
};

struct DropCase {
    const char *name;
    bool answerBeforeDrop; // else the resolver is still at work when the lookup goes
};

void PrintTo(const DropCase &drop, std::ostream *out) { *out << drop.name; }

class HostLookupDropTest : public ::testing::TestWithParam<DropCase> {};

TEST_P(HostLookupDropTest, DroppedLookupDeliversNothingAndNeverWaits)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::promise<void> threadDone;
    std::atomic<bool> resolverReturned = false;
    auto doneMark = std::make_shared<OnLastCopy>([&threadDone] { threadDone.set_value(); });
    HostLookup::Resolver resolver = [doneMark, &entered, released = release.get_future().share(),
                                     &resolverReturned](const QString &) {
        entered.set_value();
        // The guard only stops a lookup that waits for its thread from hanging the test.
        released.wait_for(std::chrono::milliseconds(kHangGuardMs));
        resolverReturned = true;
        return QList<QHostAddress>{QHostAddress::LocalHost};
    };
    doneMark.reset();

    int deliveries = 0;
    auto lookup = std::make_unique<HostLookup>(QStringLiteral("pop.example.test"), std::move(resolver));
    QObject::connect(lookup.get(), &HostLookup::finished, [&deliveries] { ++deliveries; });
    entered.get_future().wait();
    EXPECT_FALSE(resolverReturned) << "the lookup resolved on the starting thread";
    if (GetParam().answerBeforeDrop) {
        release.set_value();
        threadDone.get_future().wait(); // the answer is posted, not yet delivered
        lookup.reset();
    } else {
        lookup.reset();
        EXPECT_FALSE(resolverReturned) << "dropping the lookup waited for its thread";
        release.set_value();
        threadDone.get_future().wait();
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(deliveries, 0);
}

INSTANTIATE_TEST_SUITE_P(Drops, HostLookupDropTest,
                         ::testing::Values(DropCase{"while_resolving", false}, DropCase{"answer_pending", true}),
                         [](const auto &info) { return std::string(info.param.name); });

}
}
