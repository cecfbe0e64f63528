#pragma once
#include <QWidget>

namespace kingyo {

struct AppContext;

// Placeholder until this window is built.
class MsgForm : public QWidget {
    Q_OBJECT
public:
    explicit MsgForm(AppContext &context, QWidget *parent = nullptr);

private:
    AppContext &context_;
};

} // namespace kingyo
