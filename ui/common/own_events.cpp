#include "ui/common/own_events.h"

#include <QChildEvent>
#include <QEvent>
#include <QWidget>

namespace kv {
namespace {

// Follows the widget tree: a widget added anywhere below the window gets the window's filter and
// this follower, so that its own children are followed too.
class ChildFollower : public QObject {
public:
    ChildFollower(QObject *filter, QObject *parent) : QObject(parent), m_filter(filter) {}

    void watch(QObject *object)
    {
        if (!object->isWidgetType())
            return;
        object->installEventFilter(m_filter);
        object->installEventFilter(this);
        for (QObject *child : object->children())
            watch(child);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            watch(static_cast<QChildEvent *>(event)->child());
        return QObject::eventFilter(watched, event);
    }

private:
    QObject *m_filter;
};

} // namespace

void watchOwnEvents(QWidget *window, QObject *filter)
{
    // Owned by the filter, so it goes when the filter goes.
    (new ChildFollower(filter, filter))->watch(window);
}

} // namespace kv
