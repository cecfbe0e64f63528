#pragma once
#include <QPointer>
#include <QWidget>
#include <functional>

namespace kingyo {

// Holds the one instance of a window. The first touch creates it hidden (its
// constructor is its load step); show() brings the same window forward, minimised or
// not, without loading it again; a window closed by the user deletes itself (WA_DeleteOnClose),
// so the next touch loads it afresh.
template <class T>
class WindowHolder {
public:
    using Factory = std::function<T *()>;

    void setFactory(Factory factory) { factory_ = std::move(factory); }

    bool isLoaded() const { return !window_.isNull(); }

    T *get()
    {
        if (window_.isNull()) {
            T *created = factory_();
            created->setAttribute(Qt::WA_DeleteOnClose);
            window_ = created;
        }
        return window_.data();
    }

    T *show()
    {
        T *window = get();
        if (window->isMinimized())
            window->showNormal(); // a minimised window comes back as well
        else
            window->show();
        window->raise();
        window->activateWindow();
        return window;
    }

    // Drops the window without running its close handling (the program is ending).
    void discard() { delete window_.data(); }

private:
    Factory factory_;
    QPointer<T> window_;
};

} // namespace kingyo
