#include "panel/new_mail_notification.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

// The "image-data" hint: raw RGBA rows, (iiibiiay).
struct NotificationImage {
    QImage rgba;
};

} // namespace
} // namespace kingyo

Q_DECLARE_METATYPE(kingyo::NotificationImage)

namespace kingyo {
namespace {

QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image)
{
    const QImage &rgba = image.rgba;
    const int bitsPerSample = 8;
    const int channels = 4;
    argument.beginStructure();
    argument << rgba.width() << rgba.height() << int(rgba.bytesPerLine()) << true << bitsPerSample << channels
             << QByteArray(reinterpret_cast<const char *>(rgba.constBits()), int(rgba.sizeInBytes()));
    argument.endStructure();
    return argument;
}

// Only sent, never received; the type system asks for both directions.
const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &)
{
    return argument;
}

// Services read a subset of HTML in the body, so the mail's own text is escaped.
QString body(int count, const QList<MailSummary> &newest)
{
    QStringList lines;
    for (const MailSummary &mail : newest) {
        QStringList known{mail.from, mail.subject};
        known.removeAll(QString());
        lines << known.join(QStringLiteral(" — ")).toHtmlEscaped();
    }
    if (!newest.isEmpty() && count > newest.size())
        lines << QStringLiteral("ほか %1 通").arg(count - newest.size());
    return lines.join(u'\n');
}

} // namespace

NewMailNotification::NewMailNotification(std::function<QDBusConnection()> bus, QImage icon, QObject *parent)
    : QObject(parent), busFactory_(std::move(bus)), icon_(icon.convertToFormat(QImage::Format_RGBA8888))
{
}

QDBusConnection &NewMailNotification::connectedBus()
{
    if (!bus_) {
        qDBusRegisterMetaType<NotificationImage>();
        bus_ = busFactory_();
        bus_->connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        bus_->connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onClosed(uint, uint)));
    }
    return *bus_;
}

QString NewMailNotification::summary(int count) { return QStringLiteral("新着メール %1 通").arg(count); }

void NewMailNotification::show(int count, const QList<MailSummary> &newest, std::function<void()> unanswered)
{
    notify(
        shownId_, summary(count), body(count, newest), {kDefaultAction, QStringLiteral("表示")},
        QStringLiteral("email.arrived"),
        [this, count](uint id) {
            shownId_ = id;
            shownCount_ = count;
        },
        std::move(unanswered));
}

void NewMailNotification::showProblem(const QString &summary, const QString &sentence)
{
    notify(0, summary, sentence.toHtmlEscaped(), {}, QStringLiteral("email"), [](uint) {});
}

void NewMailNotification::notify(uint replaces, const QString &summary, const QString &body,
                                 const QStringList &actions, const QString &category,
                                 std::function<void(uint id)> answered, std::function<void()> unanswered)
{
    if (!unanswered)
        unanswered = [] {};
    QDBusConnection &bus = connectedBus();
    if (!bus.isConnected())
        return unanswered();
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("io.github.kingyo")},
                      {QStringLiteral("category"), category}};
    if (!icon_.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(NotificationImage{icon_}));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString name = QStringLiteral("kingyo"); // the program's name and its icon's
    call.setArguments({name, replaces, name, summary, body, actions, hints, -1});
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, int(kCallTimeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [watcher, answered = std::move(answered), unanswered = std::move(unanswered)] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) // no service, or one that did not answer in time
                    unanswered();
                else
                    answered(reply.value());
            });
}

void NewMailNotification::onActionInvoked(uint id, const QString &action)
{
    if (id != 0 && id == shownId_ && action == kDefaultAction)
        emit activated(shownCount_);
}

void NewMailNotification::onClosed(uint id, uint)
{
    if (id == shownId_)
        shownId_ = 0;
}

} // namespace kingyo
