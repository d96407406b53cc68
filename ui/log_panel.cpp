#include "ui/log_panel.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <cstdio>

#include "machine/log.h"

namespace vexalo {

LogPanel::LogPanel(QWidget* parent)
    : text_(new QPlainTextEdit(parent)), echo_(qEnvironmentVariableIsSet("VEXALO_LOG_STDERR")) {
    text_->setObjectName(QStringLiteral("Terminal"));
    text_->setReadOnly(true);
    text_->setUndoRedoEnabled(false);
    text_->setMaximumBlockCount(kLines);
    text_->setFrameShape(QFrame::NoFrame);
    text_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: yellow; }"));
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

QString LogPanel::RepeatLine(uint64_t repeats) {
    return QStringLiteral("(last line repeated %1 times)").arg(repeats);
}

QString LogPanel::SkippedLine(uint64_t skipped) {
    return QStringLiteral("(%1 more ignored accesses not shown)").arg(skipped);
}

void LogPanel::Drain(Log& log) {
    QStringList batch;
    bool lastInBatch = false;        // lastLine_ is still to be appended, not yet in the panel
    bool countShown = repeats_ > 0;  // the panel's last line counts lastLine_'s repeats so far
    QString tail;                    // the panel's last line rewritten, when it changes
    bool any = false;
    // Puts the count of the current run after its line: in the batch when the line is there,
    // otherwise in place of (or after) the panel's last line.
    auto closeRun = [&] {
        if (repeats_ == 0) return;
        if (lastInBatch)
            batch.append(RepeatLine(repeats_));
        else if (countShown)
            tail = RepeatLine(repeats_);
        else
            batch.prepend(RepeatLine(repeats_));
    };
    const Log::RunsDrained drained = log.DrainRuns(
        [&](const std::string& text, uint64_t length) {
            any = true;
            const QString line = QString::fromStdString(text);
            if (line == lastLine_ && !lastLine_.isEmpty()) {
                repeats_ += length;
                return;
            }
            closeRun();
            batch.append(line);
            lastLine_ = line;
            lastInBatch = true;
            repeats_ = length - 1;
        },
        kIgnoredRunsPerBatch);
    if (drained.skipped > 0) {
        closeRun();
        batch.append(SkippedLine(drained.skipped));
        lastLine_.clear();
        lastInBatch = true;
        repeats_ = 0;
    }
    if (!any && drained.skipped == 0) return;
    if (repeats_ > 0 && batch.isEmpty() && !lastInBatch) {
        // Only the run that was last in the panel went on.
        if (countShown)
            tail = RepeatLine(repeats_);
        else
            batch.append(RepeatLine(repeats_));
    } else if (repeats_ > 0) {
        closeRun();
    }

    QScrollBar* scroll = text_->verticalScrollBar();
    const bool atBottom = scroll->value() >= scroll->maximum();
    const int keep = scroll->value();
    if (!tail.isEmpty()) {
        QTextCursor cursor(text_->document());
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(tail);
    }
    if (!batch.isEmpty()) {
        const QString lines = batch.join(QLatin1Char('\n'));
        text_->appendPlainText(lines);
        if (echo_) std::fprintf(stderr, "%s\n", lines.toLocal8Bit().constData());
    }
    if (atBottom)
        scroll->setValue(scroll->maximum());
    else
        scroll->setValue(keep);
}

}  // namespace vexalo
