#pragma once
#include <QWidget>

namespace kingyo {

struct AppContext;

// Placeholder until this window is built.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(AppContext &context, QWidget *parent = nullptr);

private:
    AppContext &context_;
};

} // namespace kingyo
