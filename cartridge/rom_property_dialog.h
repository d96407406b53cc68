// The ROM header dialog: the loaded image's header and the mapper chosen for it, read-only.
#pragma once

#include <QDialog>

namespace vexalo {

struct Machine;

class TfrmROMProperty : public QDialog {
   public:
    // Filled once from `machine.cart`; the dialog keeps nothing of its own.
    explicit TfrmROMProperty(const Machine& machine, QWidget* parent = nullptr);
};

}  // namespace vexalo
