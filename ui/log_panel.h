// The log panel: the window's read-only text area `Terminal`, fed from the library's log in
// batches. A program that floods the log with ignored accesses costs the panel a bounded amount
// per batch: a run of equal lines shows once, followed by one line that counts its repeats (kept
// up to date while the run goes on, across batches), and past a budget of distinct ignored-access
// lines per batch the rest are only counted. The library's log keeps every line.
#pragma once

#include <QString>
#include <cstdint>

class QPlainTextEdit;
class QWidget;

namespace vexalo {

class Log;

class LogPanel {
   public:
    // Distinct ignored-access lines shown per batch; the rest are counted in one line.
    static constexpr size_t kIgnoredRunsPerBatch = 32;
    static constexpr int kLines = 10000;

    explicit LogPanel(QWidget* parent);
    QPlainTextEdit* widget() const { return text_; }

    // Appends what the log received since the last call. Scrolls along only when the view was
    // at the bottom.
    void Drain(Log& log);

    // The line that counts the repeats of the line above it.
    static QString RepeatLine(uint64_t repeats);
    // The line that counts the ignored accesses not shown.
    static QString SkippedLine(uint64_t skipped);

   private:
    QPlainTextEdit* text_;
    // VEXALO_LOG_STDERR set: every line shown is also written to standard error, so a script
    // driving the program can read its log.
    bool echo_;
    QString lastLine_;      // the last line shown (not a count line)
    uint64_t repeats_ = 0;  // how often it came again; shown in the panel's last line when > 0
};

}  // namespace vexalo
