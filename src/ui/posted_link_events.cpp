#include "ui/posted_link_events.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type kTrafficReadyEvent = static_cast<QEvent::Type>(QEvent::User + 1);
const QEvent::Type kClientAcceptedEvent = static_cast<QEvent::Type>(QEvent::User + 10);
const QEvent::Type kLinkClosedEvent = static_cast<QEvent::Type>(QEvent::User + 12);
const QEvent::Type kReconnectEvent = static_cast<QEvent::Type>(QEvent::User + 13);
const QEvent::Type kLinkStatusEvent = static_cast<QEvent::Type>(QEvent::User + 14);

class LinkClosedEvent : public QEvent {
public:
    LinkClosedEvent(int32_t code, uint64_t link_id)
        : QEvent(kLinkClosedEvent), code(code), link_id(link_id) {}
    const int32_t code;
    const uint64_t link_id;
};

class ReconnectEvent : public QEvent {
public:
    explicit ReconnectEvent(uint64_t token) : QEvent(kReconnectEvent), token(token) {}
    const uint64_t token;
};

}  // namespace

void PostedLinkEvents::PostTrafficReady() {
    QCoreApplication::postEvent(target_, new QEvent(kTrafficReadyEvent));
}

void PostedLinkEvents::PostClientAccepted() {
    QCoreApplication::postEvent(target_, new QEvent(kClientAcceptedEvent));
}

void PostedLinkEvents::PostLinkClosed(int32_t code, uint64_t link_id) {
    QCoreApplication::postEvent(target_, new LinkClosedEvent(code, link_id));
}

void PostedLinkEvents::PostReconnectEvent(uint64_t token) {
    QCoreApplication::postEvent(target_, new ReconnectEvent(token));
}

void PostedLinkEvents::PostLinkStatus() {
    QCoreApplication::postEvent(target_, new QEvent(kLinkStatusEvent));
}

bool PostedLinkEvents::DispatchLinkEvent(QEvent* event) {
    if (event->type() == kTrafficReadyEvent) {
        OnTrafficReady();
    } else if (event->type() == kClientAcceptedEvent) {
        OnClientAccepted();
    } else if (event->type() == kLinkClosedEvent) {
        const auto* closed = static_cast<const LinkClosedEvent*>(event);
        OnLinkClosed(closed->code, closed->link_id);
    } else if (event->type() == kReconnectEvent) {
        OnReconnectEvent(static_cast<const ReconnectEvent*>(event)->token);
    } else if (event->type() == kLinkStatusEvent) {
        OnLinkStatus();
    } else {
        return false;
    }
    return true;
}
