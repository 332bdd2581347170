// Little CMS behind the colour conversions. Conversions run row by row in place: the only memory
// beside the image is Little CMS's transform (its tables take some hundred kilobytes at most).
#include "imagefiles/colour_profile.h"

#include <array>
#include <cmath>
#include <lcms2.h>
#include <memory>

namespace quill::imagefiles {

namespace {

// A context per call: Little CMS's global state is then never shared between threads, and its
// error messages (a broken profile) go nowhere instead of to the console.
struct ContextDeleter {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct ProfileDeleter {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Context = std::unique_ptr<std::remove_pointer_t<cmsContext>, ContextDeleter>;
using Profile = std::unique_ptr<void, ProfileDeleter>;
using Transform = std::unique_ptr<void, TransformDeleter>;

void ignoreError(cmsContext, cmsUInt32Number, const char*) {}

Context newContext() {
    Context context(cmsCreateContext(nullptr, nullptr));
    if (context) cmsSetLogErrorHandlerTHR(context.get(), ignoreError);
    return context;
}

// An RGB profile of `icc` that can take part in a transform; null otherwise.
Profile openRgbProfile(cmsContext context, IccBytes icc) {
    if (icc.empty() || icc.size() > 0xFFFFFFFFu) return nullptr;
    Profile profile(cmsOpenProfileFromMemTHR(context, icc.data(), cmsUInt32Number(icc.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData) return nullptr;
    const cmsProfileClassSignature cls = cmsGetDeviceClass(profile.get());
    if (cls != cmsSigDisplayClass && cls != cmsSigInputClass && cls != cmsSigOutputClass &&
        cls != cmsSigColorSpaceClass)
        return nullptr;
    return profile;
}

// The intent conversions use: perceptual, as the reference tools convert by default. A profile
// without perceptual tables (the matrix/tone-curve kind) gives the colorimetric conversion.
constexpr cmsUInt32Number kIntent = INTENT_PERCEPTUAL;

enum class Direction : bool { ToSrgb, FromSrgb };

Transform makeTransform(cmsContext context, IccBytes icc, Direction direction,
                        cmsUInt32Number pixelType) {
    const Profile profile = openRgbProfile(context, icc);
    if (!profile) return nullptr;
    const Profile srgb(cmsCreate_sRGBProfileTHR(context));
    if (!srgb) return nullptr;
    void* from = direction == Direction::ToSrgb ? profile.get() : srgb.get();
    void* to = direction == Direction::ToSrgb ? srgb.get() : profile.get();
    const cmsUInt32Number flags = pixelType == TYPE_BGRA_8 ? cmsFLAGS_COPY_ALPHA : 0;
    return Transform(
        cmsCreateTransformTHR(context, from, pixelType, to, pixelType, kIntent, flags));
}

bool convertImage(toolkit::Image& image, IccBytes icc, Direction direction) {
    if (image.empty()) return false;
    const Context context = newContext();
    if (!context) return false;
    const cmsUInt32Number type = image.hasAlpha() ? TYPE_BGRA_8 : TYPE_BGR_8;
    const Transform transform = makeTransform(context.get(), icc, direction, type);
    if (!transform) return false;
    for (int y = 0; y < image.height(); ++y)
        cmsDoTransform(transform.get(), image.row(y), image.row(y), cmsUInt32Number(image.width()));
    return true;
}

// sRGB's tone curve, for the comparison of a profile with sRGB.
double srgbCurve(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// A matrix/tone-curve profile whose colorants (D50-adapted, as profiles store them) and curves
// are those of sRGB within what 8-bit samples can tell apart.
bool matchesSrgb(cmsContext context, void* profile) {
    if (!cmsIsMatrixShaper(profile)) return false;
    const Profile srgb(cmsCreate_sRGBProfileTHR(context));
    if (!srgb) return false;
    constexpr std::array<cmsTagSignature, 3> colorants = {
        cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (const cmsTagSignature tag : colorants) {
        const auto* mine = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
        const auto* theirs = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), tag));
        if (mine == nullptr || theirs == nullptr) return false;
        constexpr double kTolerance = 0.002;
        if (std::abs(mine->X - theirs->X) > kTolerance ||
            std::abs(mine->Y - theirs->Y) > kTolerance ||
            std::abs(mine->Z - theirs->Z) > kTolerance)
            return false;
    }
    constexpr std::array<cmsTagSignature, 3> curves = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                                       cmsSigBlueTRCTag};
    for (const cmsTagSignature tag : curves) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
        if (curve == nullptr) return false;
        for (int i = 0; i <= 32; ++i) {
            const double v = i / 32.0;
            const double got = cmsEvalToneCurveFloat(curve, cmsFloat32Number(v));
            if (std::abs(got - srgbCurve(v)) > 0.5 / 255.0) return false;
        }
    }
    return true;
}

} // namespace

ProfileKind profileKind(IccBytes icc) {
    if (icc.empty()) return ProfileKind::None;
    const Context context = newContext();
    if (!context) return ProfileKind::None;
    const Profile profile = openRgbProfile(context.get(), icc);
    if (!profile) return ProfileKind::None;
    // A profile that opens may still lack what a conversion needs: such a one counts as none,
    // even when its colorants and curves are those of sRGB.
    for (const Direction direction : {Direction::ToSrgb, Direction::FromSrgb})
        if (!makeTransform(context.get(), icc, direction, TYPE_BGR_8)) return ProfileKind::None;
    return matchesSrgb(context.get(), profile.get()) ? ProfileKind::Srgb : ProfileKind::OtherRgb;
}

bool convertImageToSrgb(toolkit::Image& image, IccBytes icc) {
    return convertImage(image, icc, Direction::ToSrgb);
}

bool convertImageFromSrgb(toolkit::Image& image, IccBytes icc) {
    return convertImage(image, icc, Direction::FromSrgb);
}

bool convertColoursFromSrgb(std::span<toolkit::Rgba> colours, IccBytes icc) {
    if (colours.empty()) return true;
    const Context context = newContext();
    if (!context) return false;
    const Transform transform = makeTransform(context.get(), icc, Direction::FromSrgb, TYPE_RGB_8);
    if (!transform) return false;
    for (toolkit::Rgba& colour : colours) {
        const std::array<std::uint8_t, 3> in = {colour.red(), colour.green(), colour.blue()};
        std::array<std::uint8_t, 3> out{};
        cmsDoTransform(transform.get(), in.data(), out.data(), 1);
        colour = toolkit::Rgba::fromChannels(out[0], out[1], out[2], colour.alpha());
    }
    return true;
}

} // namespace quill::imagefiles
