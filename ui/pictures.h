// The program's own pictures, drawn by the program (they are small and asked for rarely): the
// splash background "Sfondo" and its "Logo", the status bar's 16 x 16 icons "DirectX", "NoDirectX",
// "Audio" and "NoAudio", the About box's "About" (216 x 144) and the "Emblem" shown on dialogs and
// as the window icon (any size).
#pragma once

#include <QPixmap>
#include <QString>

namespace vexalo {

// The picture of that name; an unknown name gives a null pixmap.
QPixmap Picture(const QString& name);

// The emblem at `size` x `size` pixels (the dialogs' 32 x 32 picture, the window icon).
QPixmap Emblem(int size);

}  // namespace vexalo
