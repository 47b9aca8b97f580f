#include "platform/instance/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace zivra::platform::instance {
namespace {

const QString serviceName = QStringLiteral("velmora.zivra");
const QString objectPath = QStringLiteral("/velmora/zivra");
const QString interfaceName = QStringLiteral("velmora.zivra");
const QString activateMethod = QStringLiteral("Activate");

// The object a later start calls: "Activate" on the interface "velmora.zivra".
class Adaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "velmora.zivra")
public:
    explicit Adaptor(SingleInstance* instance)
        : QDBusAbstractAdaptor(instance), instance_(instance) {}

public slots:
    void Activate() { emit instance_->activationRequested(); }

private:
    SingleInstance* instance_;
};

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    new Adaptor(this);
}

SingleInstance::Claim SingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error_ = bus.lastError().message();
        return Claim::noBus;
    }
    // The object answers before the name is taken, so a start that finds the
    // name can call it at once.
    if (!bus.registerObject(objectPath, this)) {
        error_ = QStringLiteral("the object path %1 is taken").arg(objectPath);
        return Claim::noBus;
    }
    const auto reply =
        bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        return Claim::first;
    }
    bus.unregisterObject(objectPath);
    if (!reply.isValid()) {
        error_ = reply.error().message();
        return Claim::noBus;
    }
    return Claim::running;
}

QString SingleInstance::activateRunning() {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, activateMethod));
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString();
}

void SingleInstance::release() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(serviceName);
    bus.unregisterObject(objectPath);
}

} // namespace zivra::platform::instance

#include "SingleInstance.moc"
