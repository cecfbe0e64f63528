#include "panel/control_panel.h"

#include "base/twips.h"
#include "panel/control_panel_pin.h"
#include "panel/control_panel_placement.h"
#include "panel/form_layout.h"

#include <QEvent>
#include <QMessageBox>
#include <QPushButton>

namespace kingyo {
namespace {

struct ButtonLayout {
    const char *caption;
    const char *face; // empty: a standard button
    TwipsRect place;
    const char *hoverCaption; // empty: none
};

// Command1 .. Command5 in tab order. The top four are 255 twips high in a 225-twip
// client area, so their bottoms are cut off; Command5 lies wholly below it.
constexpr ButtonLayout kButtons[5] = {
    {"餌", "#00FFFF", {0, 0, 495, 255}, "Brimbleの餌"},
    {"受信", "#C0C0FF", {480, 0, 495, 255}, "メールチェック"},
    {"設定", "#8080FF", {960, 0, 615, 255}, "各種設定"},
    {"HP", "#80FF80", {1580, 0, 360, 255}, "作者のHP"},
    {"切断", "", {960, 1080, 1095, 375}, ""},
};

constexpr float kClientWidth = 1920;
constexpr float kClientHeight = 225;

QString faceStyle(const char *face)
{
    return QStringLiteral("QPushButton { background-color: %1; color: black; border: 1px solid #606060;"
                          " padding: 0px; }"
                          "QPushButton:pressed { border: 2px inset #404040; }"
                          "QPushButton:focus { border: 1px dotted black; }")
        .arg(QLatin1String(face));
}

} // namespace

ControlPanel::ControlPanel(QWidget *bowl, const Clock &clock, QWidget *parent) : QWidget(parent)
{
    form::setUpTitleBar(this, "Form2", QStringLiteral("Brimble屋さん"), Qt::WindowStaysOnTopHint);
    const TwipsScale scale = TwipsScale::of(nullptr);
    setFixedSize(scale.toPixels(kClientWidth, kClientHeight));
    QFont small = font();
    small.setPixelSize(12); // the captions fit the 15-pixel-high buttons
    setFont(small);

    for (int number = 1; number <= 5; ++number) {
        const ButtonLayout &layout = kButtons[number - 1];
        QPushButton *button = addButton(number, QString::fromUtf8(layout.caption), scale.toPixels(layout.place));
        if (*layout.face)
            button->setStyleSheet(faceStyle(layout.face));
        if (*layout.hoverCaption) {
            // The title gets the hint too, but a narrow title bar cuts it short.
            button->setToolTip(QString::fromUtf8(layout.hoverCaption));
            button->installEventFilter(this);
        }
        if (number > 1)
            setTabOrder(commands_[number - 2], button);
    }
    connect(commands_[0], &QPushButton::clicked, this, &ControlPanel::Command1_Click);
    connect(commands_[1], &QPushButton::clicked, this, &ControlPanel::Command2_Click);
    connect(commands_[2], &QPushButton::clicked, this, &ControlPanel::Command3_Click);
    connect(commands_[3], &QPushButton::clicked, this, &ControlPanel::Command4_Click);
    connect(commands_[4], &QPushButton::clicked, this, &ControlPanel::Command5_Click);

    auto *onScreen = new PanelOnScreen(this, bowl, scale, clock);
    if (bowl) {
        onScreen->openBelowBowl();
        pin_ = new BowlPin(this, bowl, scale, clock);
        pin_->placeBowl();
    }
}

QPushButton *ControlPanel::addButton(int number, const QString &caption, const QRect &place)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QStringLiteral("Command%1").arg(number));
    button->setGeometry(place);
    button->setAutoDefault(true); // Enter presses the focused button, as Space does
    commands_[number - 1] = button;
    return button;
}

QPushButton *ControlPanel::command(int number) const
{
    return number >= 1 && number <= 5 ? commands_[number - 1] : nullptr;
}

bool ControlPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        if (auto *button = qobject_cast<QPushButton *>(watched))
            setWindowTitle(button->toolTip()); // only the hinted buttons are watched
    }
    return QWidget::eventFilter(watched, event);
}

void ControlPanel::Command1_Click() { emit feedRequested(); }

void ControlPanel::Command2_Click() { emit mailCheckRequested(); }

void ControlPanel::Command3_Click() { emit settingsRequested(); }

void ControlPanel::Command4_Click()
{
    // Modal to the panel only, and without a loop of its own: the bowl still answers,
    // a right-click on it still ends the program, the checks go on.
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("確認"),
                                QStringLiteral("「ポムロ」作者のホームページです。ちょっと見てみますか？"),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setDefaultButton(QMessageBox::Yes);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this](int chosen) {
        if (chosen == QMessageBox::Yes)
            emit homePageRequested();
    });
    box->open();
}

void ControlPanel::Command5_Click() { emit hangUpRequested(); }

} // namespace kingyo
