// The debugger window "Debug": a listing of the program as 6502 instructions, the CPU registers
// and flags (shown and editable), Step Over, Run to a breakpoint or a pause, Reset, and
// breakpoints on listing lines. It works directly on the engine's CPU record while the machine's
// own run loop is suspended, and is created for one modal showing: the listing and the
// breakpoints last as long as one opening.
#pragma once

#include <QDialog>
#include <QIcon>

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexalo {

class Engine;
struct Machine;

// What a listing line carries besides its caption (the address as four hexadecimal digits) and
// its text: the address as a number, its image index (kImageLine or kImageBreakpoint) and its
// state image (kImageCurrent on the current line, kNoStateImage elsewhere).
enum DebugListRole : int {
    kLineAddressRole = Qt::UserRole,
    kLineImageRole,
    kLineStateImageRole,
};
enum DebugListImage : int {
    kNoStateImage = -1,
    kImageLine = 0,
    kImageBreakpoint = 1,
    kImageCurrent = 2,
};

class TfrmDebug : public QDialog {
    Q_OBJECT

   public:
    // Lines a listing batch adds at most.
    static constexpr int ListingLineCount = 18;

    explicit TfrmDebug(Engine& engine, QWidget* parent = nullptr);
    ~TfrmDebug() override;

    // The commands, as the menu items and the toolbar buttons call them.
    void Run1Click();
    void StepOver1Click();
    void Pause1Click();
    void Reset1Click();
    void Breakpoints1Click();

    // Closing the window also ends a Run in progress after its current step.
    void done(int result) override;

   protected:
    void showEvent(QShowEvent* event) override;

   private:
    QWidget* BuildToolbar();
    QWidget* BuildRegisters();
    QWidget* BuildStatusBar();

    void RefreshRegisters();
    void GoToAddress(uint16_t address);
    void FillListing(uint16_t address);
    void AddListingLines(uint16_t address);
    void MarkCurrentLine(QTreeWidgetItem* line);
    void SetLineImages(QTreeWidgetItem* line, bool current);
    QTreeWidgetItem* SelectedLine() const;
    // The steps of a Run; false when the window was destroyed while it processed events.
    bool RunUntilStopped();

    void DebugListDblClick();
    void edAChange();
    void edXChange();
    void cbFlagClick(int bit, bool checked);

    Engine& engine_;
    Machine& machine_;

    QAction* Run1 = nullptr;
    QAction* StepOver1 = nullptr;
    QAction* Skip1 = nullptr;
    QAction* Pause1 = nullptr;

    QTreeWidget* DebugList = nullptr;
    QLineEdit* edA = nullptr;
    QLineEdit* edX = nullptr;
    QLineEdit* edY = nullptr;
    QLineEdit* edS = nullptr;
    QLineEdit* edPC = nullptr;
    std::array<QCheckBox*, 8> flagBoxes_{};  // cbC (bit 0) .. cbN (bit 7)

    // A line's icon by [image index][carries the current-line state image].
    QIcon lineIcons_[2][2];

    bool StopRequested = false;
    bool refreshing_ = false;
    bool runActive_ = false;
    QTreeWidgetItem* previousCurrentLine_ = nullptr;
    // Listing lines by address (null where none starts), and the breakpoint lines' addresses.
    std::vector<QTreeWidgetItem*> lines_;
    std::bitset<0x10000> BreakpointList;
};

}  // namespace vexalo
