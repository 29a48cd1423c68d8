#include "views/WindowPlace.h"

#include "common/AppState.h"
#include "common/Paths.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QMainWindow>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

#include <algorithm>

namespace {

QSettings preferences(const AppState& state)
{
    return QSettings(PreferencesFilePath(state.dataDir), QSettings::IniFormat);
}

QString placeKey(const QWidget* w)
{
    return QStringLiteral("windows/%1/geometry").arg(w->objectName());
}

// The program's own windows: boxes and file dialogs place themselves, and unnamed windows have no key.
bool isPlaced(const QObject* o)
{
    if (!o->isWidgetType())
        return false;
    const auto* w = static_cast<const QWidget*>(o);
    const Qt::WindowType type = w->windowType();
    return w->isWindow() && (type == Qt::Window || type == Qt::Dialog) && !w->objectName().isEmpty() &&
           !w->inherits("QMessageBox") && !w->inherits("QFileDialog");
}

// A main window's docks and toolbars: which are open, and where.
QString layoutKey(const QWidget* w)
{
    return QStringLiteral("windows/%1/layout").arg(w->objectName());
}

void keep(const AppState& state, const QWidget* w)
{
    QSettings settings = preferences(state);
    settings.setValue(placeKey(w), w->saveGeometry());
    if (const auto* main = qobject_cast<const QMainWindow*>(w))
        settings.setValue(layoutKey(w), main->saveState());
}

void restore(const AppState& state, QWidget* w)
{
    const QSettings settings = preferences(state);
    const QByteArray place = settings.value(placeKey(w)).toByteArray();
    if (!place.isEmpty())
        w->restoreGeometry(place);
    const QByteArray layout = settings.value(layoutKey(w)).toByteArray();
    if (auto* main = qobject_cast<QMainWindow*>(w); main && !layout.isEmpty())
        main->restoreState(layout);
}

} // namespace

WindowPlaces::WindowPlaces(const AppState& state, QObject* parent) : QObject(parent), state(state)
{
    qApp->installEventFilter(this);
    // Windows still open when the program ends are kept as they are then.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && isPlaced(w))
                keep(this->state, w);
    });
}

WindowPlaces::~WindowPlaces()
{
    qApp->removeEventFilter(this);
}

bool WindowPlaces::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide || type == QEvent::Close) && isPlaced(watched)) {
        auto* w = static_cast<QWidget*>(watched);
        if (type == QEvent::Show)
            restore(state, w);
        else if (w->isVisible() || type == QEvent::Hide)
            keep(state, w);
    }
    return QObject::eventFilter(watched, event);
}

QList<int> RestoreColumnWidths(const AppState& state, QHeaderView* header, const QString& key)
{
    const QStringList stored = preferences(state).value(QStringLiteral("columns/") + key).toStringList();
    QList<int> widths;
    for (int c = 0; c < stored.size() && c < header->count(); ++c) {
        widths << std::max(stored[c].toInt(), 0);
        if (!header->isSectionHidden(c) && widths.back() > 0)
            header->resizeSection(c, widths.back());
    }
    return widths;
}

void KeepColumnWidths(const AppState& state, const QHeaderView* header, const QString& key)
{
    QStringList widths;
    for (int c = 0; c < header->count(); ++c)
        widths << QString::number(header->isSectionHidden(c) ? 0 : header->sectionSize(c));
    preferences(state).setValue(QStringLiteral("columns/") + key, widths);
}
