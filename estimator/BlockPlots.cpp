#include "BlockPlots.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QSaveFile>
#include <QString>

#include <algorithm>
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

// Zlib's fastest level: the plots are mostly white, so the files come out hardly larger, and
// compression was most of the time a plot took.
constexpr int kPngQuality = 90;

// The same picture with a colour table when it has at most 256 colours (a plot has a few dozen:
// its lines and the grey edges of its text), so that a quarter of the bytes go through the
// compressor; otherwise the image as it is.
QImage paletted(const QImage& image)
{
    QList<QRgb> colours;
    QRgb last = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // Runs of one colour (the white) are most of a plot.
            if ((line[x] != last || colours.empty()) && !colours.contains(line[x])) {
                if (colours.size() == 256) {
                    return image;
                }
                colours.append(line[x]);
            }
            last = line[x];
        }
    }
    return image.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither);
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
        throw std::filesystem::filesystem_error(
            "not a folder", folder_, std::make_error_code(std::errc::not_a_directory));
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
    if (!out.open(QIODevice::WriteOnly) ||
        !paletted(canvas.image()).save(&out, "PNG", kPngQuality) || !out.commit()) {
        result.problem = "the plot could not be saved to " + file.string() + ": " +
                         out.errorString().toStdString();
    }
    return result;
}

} // namespace kestrum::survey
