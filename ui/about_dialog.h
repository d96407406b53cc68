// The About box: the program's picture, its version, a notice and the credits.
#pragma once

#include <QDialog>

class QLabel;

namespace vexalo {

class TfrmAbout : public QDialog {
    Q_OBJECT
   public:
    explicit TfrmAbout(const QString& productVersion, QWidget* parent = nullptr);

   private:
    QLabel* lblVersion_;
};

}  // namespace vexalo
