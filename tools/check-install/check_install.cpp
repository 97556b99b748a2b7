#include "check_install.h"

#include <array>
#include <ostream>

namespace check_install {
namespace {

constexpr char script_path[] = "/opt/corvane2/scripts/xentop.py";

enum class VersionKind {
    packed,  // FFmpeg: unsigned major << 16 | minor << 8 | micro
    text,    // cairo, pixman: a version string
};

// A library-specific check beyond the symbols' presence; returns what is wrong, or "".
using ExtraCheck = std::string (*)(const LoadedLibrary& library);

struct LibraryCheck {
    const char* shared_object;
    const char* debian_package;
    const char* version_function;
    VersionKind version_kind;
    std::span<const char* const> required_symbols;
    const char* offers;
    ExtraCheck extra_check;
};

// The FFmpeg call signatures used here, written out so that no FFmpeg header is needed. The
// descriptor record has begun with the codec id, an int-sized enum, in every libavcodec since 54.
using CodecDescriptorByName = const int* (*)(const char* name);
using CodecDescriptorById = const int* (*)(int codec_id);
using FindCodecById = const void* (*)(int codec_id);
using FindCodecByName = const void* (*)(const char* name);

template <typename Function>
Function function_at(const LoadedLibrary& library, const char* name)
{
    return reinterpret_cast<Function>(library.symbol(name));
}

// The carried libavcodec registered exactly the MJPEG encoder and decoder, and the installation
// uses both.
std::string check_mjpeg(const LoadedLibrary& library)
{
    const auto descriptor_by_name =
        function_at<CodecDescriptorByName>(library, "avcodec_descriptor_get_by_name");
    const int* descriptor = descriptor_by_name("mjpeg");
    if (descriptor == nullptr) {
        return "knows no MJPEG codec";
    }
    const int mjpeg_id = *descriptor;
    // Guards the record layout read above: the id must lead back to the same descriptor.
    const auto descriptor_by_id =
        function_at<CodecDescriptorById>(library, "avcodec_descriptor_get");
    if (descriptor_by_id(mjpeg_id) != descriptor) {
        return "describes its codecs in a layout this check does not know";
    }
    const bool encoder =
        function_at<FindCodecById>(library, "avcodec_find_encoder")(mjpeg_id) != nullptr &&
        function_at<FindCodecByName>(library, "avcodec_find_encoder_by_name")("mjpeg") != nullptr;
    const bool decoder =
        function_at<FindCodecById>(library, "avcodec_find_decoder")(mjpeg_id) != nullptr &&
        function_at<FindCodecByName>(library, "avcodec_find_decoder_by_name")("mjpeg") != nullptr;
    if (!encoder && !decoder) {
        return "has neither an MJPEG encoder nor an MJPEG decoder";
    }
    if (!encoder) {
        return "has no MJPEG encoder";
    }
    if (!decoder) {
        return "has no MJPEG decoder";
    }
    return {};
}

constexpr std::array avcodec_symbols{
    "avcodec_version",
    "avcodec_descriptor_get",
    "avcodec_descriptor_get_by_name",
    "avcodec_find_encoder",
    "avcodec_find_decoder",
    "avcodec_find_encoder_by_name",
    "avcodec_find_decoder_by_name",
    "avcodec_alloc_context3",
    "avcodec_open2",
    "avcodec_free_context",
};
constexpr std::array avformat_symbols{
    "avformat_version",
    "avformat_alloc_context",
    "avformat_free_context",
};
constexpr std::array avutil_symbols{
    "avutil_version", "av_malloc", "av_free", "av_frame_alloc", "av_frame_free",
};
// Today's libavcodec no longer holds the picture-scaling functions the carried build had.
constexpr std::array swscale_symbols{
    "swscale_version", "sws_getContext", "sws_getCachedContext", "sws_scale", "sws_freeContext",
};
constexpr std::array cairo_symbols{
    "cairo_version_string",
    "cairo_image_surface_create",
    "cairo_image_surface_create_from_png",
    "cairo_surface_write_to_png",
    "cairo_ps_surface_create",
    "cairo_pdf_surface_create",
    "cairo_svg_surface_create",
    "cairo_xlib_surface_create",
    "cairo_xlib_surface_create_with_xrender_format",
};
constexpr std::array pixman_symbols{
    "pixman_version_string",
    "pixman_image_create_bits",
    "pixman_image_unref",
};

// libavutil first: the other FFmpeg libraries need it, so its line explains theirs.
const std::array<LibraryCheck, 6> library_checks{{
    {"libavutil.so.57", "libavutil57", "avutil_version", VersionKind::packed, avutil_symbols,
     "memory and frame helpers", nullptr},
    {"libavcodec.so.59", "libavcodec59", "avcodec_version", VersionKind::packed, avcodec_symbols,
     "MJPEG encoder and decoder", check_mjpeg},
    {"libavformat.so.59", "libavformat59", "avformat_version", VersionKind::packed,
     avformat_symbols, "format context", nullptr},
    {"libswscale.so.6", "libswscale6", "swscale_version", VersionKind::packed, swscale_symbols,
     "sws_getContext, sws_getCachedContext, sws_scale, sws_freeContext", nullptr},
    {"libcairo.so.2", "libcairo2", "cairo_version_string", VersionKind::text, cairo_symbols,
     "image, PNG, PostScript, PDF, SVG and Xlib surfaces", nullptr},
    {"libpixman-1.so.0", "libpixman-1-0", "pixman_version_string", VersionKind::text,
     pixman_symbols, "image creation", nullptr},
}};

std::string version_of(const LoadedLibrary& library, const LibraryCheck& check)
{
    if (library.symbol(check.version_function) == nullptr) {
        return "unknown";
    }
    if (check.version_kind == VersionKind::packed) {
        const unsigned version = function_at<unsigned (*)()>(library, check.version_function)();
        return std::to_string(version >> 16) + '.' + std::to_string((version >> 8) & 0xff) + '.' +
               std::to_string(version & 0xff);
    }
    const char* version = function_at<const char* (*)()>(library, check.version_function)();
    return version != nullptr ? version : "unknown";
}

Finding check_library(HostAccess& host, const LibraryCheck& check)
{
    Finding finding{check.shared_object, false, {}, check.debian_package};
    const LoadResult loaded = host.load(check.shared_object);
    if (!loaded.library) {
        // The loader's message repeats the name the line already starts with.
        std::string reason = loaded.error;
        if (const std::string prefix = std::string(check.shared_object) + ": ";
            reason.rfind(prefix, 0) == 0) {
            reason.erase(0, prefix.size());
        }
        finding.detail = "missing (" + reason + ")";
        return finding;
    }

    std::string missing;
    for (const char* symbol : check.required_symbols) {
        if (loaded.library->symbol(symbol) == nullptr) {
            missing += missing.empty() ? symbol : std::string(", ") + symbol;
        }
    }
    // Calling into a library is only safe once every function the call needs is known to exist.
    if (!missing.empty()) {
        finding.detail = "incomplete, lacks " + missing;
        return finding;
    }
    const std::string version = version_of(*loaded.library, check);
    if (check.extra_check != nullptr) {
        if (std::string problem = check.extra_check(*loaded.library); !problem.empty()) {
            finding.detail = "incomplete, version " + version + " " + problem;
            return finding;
        }
    }
    finding.ok = true;
    finding.detail = "ok, version " + version + ": " + check.offers;
    return finding;
}

Finding check_script(HostAccess& host)
{
    // The script belongs to the host installation, not to any Debian package.
    Finding finding{script_path, false, {}, {}};
    switch (host.file_state(script_path)) {
    case FileState::executable:
        finding.ok = true;
        finding.detail = "ok, present and executable";
        break;
    case FileState::not_executable:
        finding.detail = "not executable by this user; xentop-launcher cannot start it";
        break;
    case FileState::missing:
        finding.detail = "missing; xentop-launcher has no script to start";
        break;
    }
    return finding;
}

}  // namespace

std::vector<Finding> check_installation(HostAccess& host)
{
    std::vector<Finding> findings;
    for (const LibraryCheck& check : library_checks) {
        findings.push_back(check_library(host, check));
    }
    findings.push_back(check_script(host));
    return findings;
}

int print_report(std::span<const Finding> findings, std::ostream& out)
{
    std::size_t problems = 0;
    std::string packages;
    bool script_missing = false;
    for (const Finding& finding : findings) {
        out << finding.subject << ": " << finding.detail;
        if (!finding.ok && !finding.debian_package.empty()) {
            out << "; install " << finding.debian_package;
        }
        out << '\n';
        if (finding.ok) {
            continue;
        }
        ++problems;
        if (finding.debian_package.empty()) {
            script_missing = true;
        } else {
            packages += ' ' + finding.debian_package;
        }
    }
    if (problems == 0) {
        out << "check-install: everything the installation relies on is present\n";
        return 0;
    }
    out << "check-install: " << problems << " of " << findings.size() << " checks failed";
    if (!packages.empty()) {
        out << "; to fix: apt-get install" << packages;
    }
    if (script_missing) {
        out << (packages.empty() ? "; " : "; and ") << "install the host-monitoring script at "
            << script_path;
    }
    out << '\n';
    return 1;
}

int run_check_install(std::ostream& out, HostAccess& host)
{
    const std::vector<Finding> findings = check_installation(host);
    return print_report(findings, out);
}

}  // namespace check_install
