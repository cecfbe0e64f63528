#pragma once
#include <QWidget>

namespace kingyo {

struct AppContext;

// Placeholder until this window is built.
class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(AppContext &context, QWidget *parent = nullptr);

private:
    AppContext &context_;
};

} // namespace kingyo
