#include "fish/bowl_window.h"

#include "base/random_source.h"
#include "fish/x11_window_state.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace kingyo {
BowlFrames BowlWindow::loadFrames()
{
    BowlFrames frames;
    for (int i = 0; i < kRegionSlots; ++i)
        frames[i] = QImage(QStringLiteral(":/assets/bowl/frame%1.png").arg(i));
    return frames;
}

BowlWindow::BowlWindow(RandomSource &random, const Clock &clock, QWidget *parent)
    : BowlWindow(random, clock, loadFrames(), parent)
{
}

BowlWindow::BowlWindow(RandomSource &random, const Clock &clock, const BowlFrames &frames, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , random_(random)
    , clock_(clock)
    , scale_(TwipsScale::of(nullptr))
    , tick_(random)
{
    setObjectName(QStringLiteral("Form1"));
    const RgnData regions = MakeRegions(frames);
    for (int i = 0; i < kRegionSlots; ++i) {
        shapes_[i] = toQRegion(regions[i]);
        firstSameShape_[i] = static_cast<int>(std::find(shapes_.begin(), shapes_.end(), shapes_[i]) - shapes_.begin());
    }

    const QSize size = scale_.toPixels(kBowlPictureTwips, kBowlPictureTwips);
    setFixedSize(size);
    picture0_ = new QLabel(this);
    picture0_->setObjectName(QStringLiteral("Picture1(0)"));
    picture0_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture0_->setPixmap(QPixmap::fromImage(frames[0]));
    picture0_->setGeometry(QRect(QPoint(0, 0), size));
    addPicture(picture0_);

    random_.reseed();
    startPosition_ = QCursor::pos();
    move(startPosition_);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, &BowlWindow::Timer1_Timer);
    timer1_->start();

    living_ = std::make_unique<LivingBowl>(*this, random_, clock_);
}

BowlWindow::~BowlWindow() = default;

void BowlWindow::addPicture(QWidget *picture, const SmallFishAt &smallFishAt)
{
    pictures_.insert(picture, smallFishAt);
    picture->installEventFilter(this);
}

QWidget *BowlWindow::bowlPicture() const { return picture0_; }

void BowlWindow::Timer1_Timer()
{
    TwipsRect window = pixelsToTwips(QRect(pos(), QSize()), scale_);
    window.width = kBowlPictureTwips;
    window.height = kBowlPictureTwips;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return; // no screen connected at the moment: nothing to keep the bowl on
    const TwipsRect screen = pixelsToTwips(primary->geometry(), scale_);
    const BowlStep step = tick_.tick(window, screen);
    const QPoint to(scale_.toPixelsX(step.left), scale_.toPixelsY(step.top));
    const bool moved = to != pos();
    move(to);
    if (showShape(step.slot) || moved)
        flushX11Requests();
}

// Gives the window the slot's outline unless it has that outline already. Returns
// whether the shape changed. The shape goes to the window itself: as a widget mask
// it would also clip every repaint inside the bowl against its many rectangles, when
// the window system cuts the window to its shape anyway.
bool BowlWindow::showShape(int slot)
{
    if (firstSameShape_[slot] == shapeShown_)
        return false;
    winId();
    windowHandle()->setMask(shapes_[slot]);
    shapeShown_ = firstSameShape_[slot];
    return true;
}

void BowlWindow::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        // Qt marks the window as above others itself; the taskbar and pager states
        // must be in place before the window manager maps it.
        winId();
        QWindow *window = windowHandle();
        window->installEventFilter(this);
        addNetWmStates(window, {QByteArrayLiteral("_NET_WM_STATE_SKIP_TASKBAR"),
                                QByteArrayLiteral("_NET_WM_STATE_SKIP_PAGER")});
        // Destroyed from outside, the bowl gets no close event, and kingyo would live on unseen.
        if (!destroyedWatch_)
            destroyedWatch_ = watchX11WindowDestroyed(window, [this] { emit unloadRequested(); });
    }
    QWidget::setVisible(visible);
}

bool BowlWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && !exposed_) {
        // Right after reparenting, the window manager's first placement can leave Qt
        // believing the window sits at 0,0; place it again where it belongs.
        exposed_ = true;
        move(startPosition_);
        return false;
    }
    const auto picture = pictures_.constFind(watched);
    if (picture != pictures_.cend())
        return isPressOnSmallFish(*picture, event) ? handleSmallFishPress(event) : handleBowlMouse(event);
    return QWidget::eventFilter(watched, event);
}

// Only presses look for the small fish. Moves and releases go on to the bowl's handling,
// which a press kept from it never started, and a drag begun on the water still ends
// when the button comes up over the fish.
bool BowlWindow::isPressOnSmallFish(const SmallFishAt &smallFishAt, const QEvent *event)
{
    if (!smallFishAt)
        return false;
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    return smallFishAt(static_cast<const QMouseEvent *>(event)->position().toPoint());
}

bool BowlWindow::handleSmallFishPress(QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        emit panelRequested();
    return true; // kept from the bowl beneath
}

bool BowlWindow::handleBowlMouse(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            startDrag(mouse);
        else if (mouse->button() == Qt::RightButton)
            emit endRequested();
        return true;
    }
    case QEvent::MouseMove:
        followDrag(static_cast<QMouseEvent *>(event));
        return true;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            drag_ = Drag::None;
        return true;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit panelRequested();
        return true;
    default:
        return false;
    }
}

void BowlWindow::startDrag(QMouseEvent *event)
{
    drag_ = Drag::Pressed;
    dragStartGlobal_ = event->globalPosition().toPoint();
    dragStartPosition_ = pos();
}

void BowlWindow::followDrag(QMouseEvent *event)
{
    if (drag_ == Drag::None)
        return;
    move(dragStartPosition_ + (event->globalPosition().toPoint() - dragStartGlobal_));
    // The window manager takes over at the first motion, not at the press: a move it
    // starts on a press swallows the second click of a double-click. Without a window
    // manager that moves windows, the bowl keeps following the mouse itself.
    if (drag_ == Drag::Pressed) {
        QWindow *window = windowHandle();
        drag_ = window && window->startSystemMove() ? Drag::None : Drag::Manual;
    }
}

void BowlWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit unloadRequested();
}

void BowlWindow::mousePressEvent(QMouseEvent *event)
{
    // The window's own surface drags like the pictures but does not end the program.
    if (event->button() != Qt::RightButton)
        handleBowlMouse(event);
}

void BowlWindow::mouseMoveEvent(QMouseEvent *event) { handleBowlMouse(event); }

void BowlWindow::mouseReleaseEvent(QMouseEvent *event) { handleBowlMouse(event); }

void BowlWindow::mouseDoubleClickEvent(QMouseEvent *event) { handleBowlMouse(event); }

} // namespace kingyo
