#include "BlockPlots.h"

#include <QFont>
#include <QImage>
#include <QSaveFile>
#include <QString>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <vector>

#include "Estimate.h"
#include "ImageCanvas.h"
#include "PlotCurve.h"
#include "PlotLimitMarks.h"
#include "ProfileScan.h"

namespace kestrum::survey {

namespace {

// The window's plot area and font, so that a saved plot looks as the window shows it.
constexpr int kPlotWidth = 949;
constexpr int kPlotHeight = 381;
constexpr double kFontPoints = 8.25;
constexpr Colour kCurveBlue = 0xC00000;
constexpr std::int16_t kTitleTop = 10;
constexpr std::size_t kMostNameBytes = 100;

QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPoints);
    return font;
}

// The image as an 8-bit RGB PNG, lossless, with zlib's fastest level and no row filters: the
// plots are mostly white and compress well anyway, while libpng's search for the best filter of
// every row and zlib's default level were most of the time a plot took. Qt's writer sets neither.
bool writePng(const QImage& image, QIODevice& device)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    struct Release {
        png_structp& png;
        png_infop& info;
        ~Release() { png_destroy_write_struct(&png, &info); }
    } release{png, info};
    if (info == nullptr) {
        return false;
    }
    // libpng reports its errors by longjmp: nothing between here and the end needs destroying.
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(
        png, &device,
        [](png_structp writer, png_bytep data, png_size_t size) {
            auto* out = static_cast<QIODevice*>(png_get_io_ptr(writer));
            if (out->write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
                static_cast<qint64>(size)) {
                png_error(writer, "the file could not be written");
            }
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.width()),
                 static_cast<png_uint_32>(rgb.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (int y = 0; y < rgb.height(); ++y) {
        png_write_row(png, rgb.constScanLine(y));
    }
    png_write_end(png, nullptr);
    return true;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

} // namespace

std::string safeFileName(const std::string& block)
{
    std::string name;
    for (const char c : block) {
        if (name.size() == kMostNameBytes) {
            break;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                           (c == '.' && !name.empty());
        name += plain ? c : '_';
    }
    return name.empty() ? "block" : name;
}

PlotFolder::PlotFolder(std::filesystem::path folder) : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_);
    if (!std::filesystem::is_directory(folder_)) {
        throw std::filesystem::filesystem_error("not a folder", folder_,
                                                std::make_error_code(std::errc::not_a_directory));
    }
}

std::filesystem::path PlotFolder::fileFor(const std::string& block, std::size_t line)
{
    const std::string base = safeFileName(block);
    std::string name = base;
    if (taken_.count(lowerCase(name)) > 0) {
        name = base + "-line" + std::to_string(line);
        for (int k = 2; taken_.count(lowerCase(name)) > 0; ++k) {
            name = base + "-line" + std::to_string(line) + "-" + std::to_string(k);
        }
    }
    taken_.insert(lowerCase(name));
    return folder_ / (name + ".png");
}

PlottedBlock estimateAndPlot(const EstimateInputs& inputs, bool sFree,
                             inference::Parameter profiled, KestrumN_E04JYF N_E04JYF,
                             const std::filesystem::path& file)
{
    const bool profileOfP = profiled == inference::Parameter::P;
    EstimatePress press;
    ModelRecord record;
    BuildRecord(inputs, sFree, press, record);
    Fit(press, record, N_E04JYF);
    BackTransform(press);
    // Before the scan, which reuses F and IFAIL.
    PlottedBlock result{analyseBlock(press, inputs, sFree, profiled), {}};
    press.RANGEPCT = inputs.rangePct;
    ScanRange(press, profileOfP ? press.PARMS(2) : press.PARMS(1));
    std::int16_t NPTS = 0;
    ScanProfile(press, record, profileOfP, NPTS, N_E04JYF);
    noteProfile(result.block,
                std::span<const float>(press.PROFLL.data(), static_cast<std::size_t>(NPTS)));

    ImageCanvas canvas(QSize(kPlotWidth, kPlotHeight), windowFont());
    canvas.Cls();
    PlotCurve(canvas, press.PROFLL, press.PROFPCT, NPTS, QStringLiteral("log likelihood"),
              kTitleTop, kCurveBlue, true, profileOfP);
    const inference::ProfileInterval& limits = result.block.analysis.limits(profiled);
    std::vector<double> marks;
    for (const inference::Limit& limit : {limits.lower, limits.upper}) {
        if (limits.given() && limit.kind == inference::LimitKind::Found) {
            marks.push_back(limit.value * 100.0);
        }
    }
    PlotLimitMarks(canvas, press.PROFLL, press.PROFPCT, NPTS, marks);

    QSaveFile out(QString::fromStdString(file.string()));
    if (!out.open(QIODevice::WriteOnly) || !writePng(canvas.image(), out) || !out.commit()) {
        result.problem = "the plot could not be saved to " + file.string() + ": " +
                         out.errorString().toStdString();
    }
    return result;
}

} // namespace kestrum::survey
