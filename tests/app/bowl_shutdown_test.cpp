#include "app/program.h"
#include "app/application.h"
#include "fish/bowl_window.h"
#include "mail/recording_mail_library.h"
#include "support/fakes.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

// Counts the close requests a window receives.
class CloseCounter : public QObject {
public:
    int closes = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            ++closes;
        return false;
    }
};

class BowlShutdownTest : public ::testing::Test {
protected:
    BowlShutdownTest() : mail(mailLog)
    {
        context.random = &random;
        context.clock = &clock;
        context.mail = &mail;
        wireWindows(context);
        bowl = std::make_unique<BowlWindow>(random, clock);
        wireBowl(context, *bowl);
        lifetime.watch(*bowl);
        bowl->show();
        otherWindow.installEventFilter(&otherCloses);
        otherWindow.show();
    }
    ~BowlShutdownTest() override { discardWindows(context); }

    // Runs the event loop with the action queued; the exit code, or 99 when nothing
    // ended the loop within five seconds.
    int runUntilEnd(const std::function<void()> &action)
    {
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        giveUp.start(5000);
        QTimer::singleShot(0, bowl.get(), action);
        return QApplication::exec();
    }

    QStringList mailLog;
    test::RecordingMailLibrary mail;
    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    Program context;
    std::unique_ptr<BowlWindow> bowl;
    ProgramLifetime lifetime{context};
    QWidget otherWindow;
    CloseCounter otherCloses;
};

TEST_F(BowlShutdownTest, RightPressEndsAtOnceWithoutTheMailLibrary)
{
    const int code = runUntilEnd([this] {
        QWidget *picture = bowl->bowlPicture();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), picture->mapToGlobal(QPointF(5, 5)),
                          Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &press);
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(lifetime.hasEnded());
    EXPECT_TRUE(mailLog.isEmpty()) << mailLog.join(", ").toStdString();
    EXPECT_FALSE(bowl->isVisible());
    EXPECT_FALSE(otherWindow.isVisible());
    EXPECT_EQ(otherCloses.closes, 0);
}

TEST_F(BowlShutdownTest, ClosingTheBowlFromOutsideEndsTheMailLibraryOnce)
{
    const int code = runUntilEnd([this] { bowl->close(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(mailLog, QStringList{QStringLiteral("end")});
    EXPECT_FALSE(otherWindow.isVisible());
    EXPECT_EQ(otherCloses.closes, 0);
}

class TerminationSignal : public BowlShutdownTest, public ::testing::WithParamInterface<int> {};

TEST_P(TerminationSignal, Unloads)
{
    const int signal = GetParam();
    const int code = runUntilEnd([signal] { std::raise(signal); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(mailLog, QStringList{QStringLiteral("end")});
    EXPECT_EQ(otherCloses.closes, 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST_F(BowlShutdownTest, QuittingTheApplicationUnloadsOnce)
{
    const int code = runUntilEnd([] { QCoreApplication::quit(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(mailLog, QStringList{QStringLiteral("end")});
}

TEST_F(BowlShutdownTest, WithoutAMailLibraryUnloadingStillEnds)
{
    context.mail = nullptr;
    EXPECT_EQ(runUntilEnd([this] { bowl->close(); }), 0);
    EXPECT_TRUE(lifetime.hasEnded());
}

} // namespace
} // namespace kingyo
