#include "machine/picture_scale.h"

#include <algorithm>

namespace vexalo {

AreaSize ScaledPictureSize(int scale, PixelAspect aspect) {
    const int width = 256 * scale;
    if (aspect == PixelAspect::Television) return {(width * 8 + 3) / 7, 240 * scale};
    return {width, 240 * scale};
}

AreaSize WindowAreaSize(int scale, PixelAspect aspect) {
    const AreaSize picture =
        ScaledPictureSize(std::clamp(scale, kMinWindowScale, kMaxWindowScale), aspect);
    return {std::max(kClassicAreaWidth, picture.width),
            std::max(kClassicAreaHeight, picture.height)};
}

int FittingScale(int areaWidth, int areaHeight, PixelAspect aspect) {
    int scale = std::max(1, areaHeight / 240);
    while (scale > 1 && ScaledPictureSize(scale, aspect).width > areaWidth) --scale;
    return scale;
}

PictureRect ScaledPictureRect(int areaWidth, int areaHeight, PixelAspect aspect) {
    const AreaSize picture = ScaledPictureSize(FittingScale(areaWidth, areaHeight, aspect), aspect);
    return {(areaWidth - picture.width) / 2, (areaHeight - picture.height) / 2, picture.width,
            picture.height};
}

int FirstStartScale(int screenWidth, int screenHeight, int frameWidth, int frameHeight,
                    PixelAspect aspect) {
    for (int scale = kMaxWindowScale; scale > kMinWindowScale; --scale) {
        const AreaSize area = WindowAreaSize(scale, aspect);
        if (240 * scale <= screenHeight / 2 && area.width + frameWidth <= screenWidth &&
            area.height + frameHeight <= screenHeight)
            return scale;
    }
    return kMinWindowScale;
}

}  // namespace vexalo
