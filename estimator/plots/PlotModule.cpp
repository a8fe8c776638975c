// The plots of kestrum-estimate: the only part of it that needs Qt, loaded only when plots are
// asked for, so that a run without them starts without Qt's libraries.
#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>
#include <QString>

#include <png.h>

#include <cerrno>
#include <clocale>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BlockPlots.h"
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
// Into memory: the file is written from there in one checked write.
bool writePng(const QImage& image, QByteArray& png)
{
    QBuffer device(&png);
    device.open(QIODevice::WriteOnly);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = writer != nullptr ? png_create_info_struct(writer) : nullptr;
    struct Release {
        png_structp& writer;
        png_infop& info;
        ~Release() { png_destroy_write_struct(&writer, &info); }
    } release{writer, info};
    if (info == nullptr) {
        return false;
    }
    // libpng reports its errors by longjmp: nothing between here and the end needs destroying.
    if (setjmp(png_jmpbuf(writer)) != 0) {
        return false;
    }
    png_set_write_fn(
        writer, &device,
        [](png_structp self, png_bytep data, png_size_t size) {
            auto* out = static_cast<QIODevice*>(png_get_io_ptr(self));
            if (out->write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
                static_cast<qint64>(size)) {
                png_error(self, "the plot could not be held in memory");
            }
        },
        nullptr);
    png_set_IHDR(writer, info, static_cast<png_uint_32>(rgb.width()),
                 static_cast<png_uint_32>(rgb.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(writer, 1);
    png_set_filter(writer, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(writer, info);
    for (int y = 0; y < rgb.height(); ++y) {
        png_write_row(writer, rgb.constScanLine(y));
    }
    png_write_end(writer, nullptr);
    return true;
}

// Qt's own notes on a machine without a desktop (no XDG_RUNTIME_DIR, say) would read as problems
// with the survey; a plot that cannot be saved is told with its line all the same.
void onlyQtErrors(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "kestrum-estimate: %s\n", message.toLocal8Bit().constData());
    }
}

class WindowPlotter final : public Plotter {
public:
    // The plots need Qt's fonts, and so an application; offscreen, as no display is needed.
    WindowPlotter()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(onlyQtErrors);
        app_ = std::make_unique<QGuiApplication>(argc_, argv_.data());
        // Qt takes the user's locale for the C library too; the output's numbers and sentences
        // must keep '.' as the decimal point whatever it is.
        std::setlocale(LC_NUMERIC, "C");
    }

    PlottedBlock estimateAndPlot(const EstimateInputs& inputs, bool sFree,
                                 inference::Parameter profiled, KestrumN_E04JYF N_E04JYF,
                                 const std::filesystem::path& file) override;

private:
    char name_[17] = "kestrum-estimate";
    int argc_ = 1;
    std::vector<char*> argv_{name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

} // namespace

PlottedBlock WindowPlotter::estimateAndPlot(const EstimateInputs& inputs, bool sFree,
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
    PlotCurve(canvas, press.PROFLL, press.PROFPCT, NPTS, "log likelihood", kTitleTop, kCurveBlue,
              true, profileOfP);
    const inference::ProfileInterval& limits = result.block.analysis.limits(profiled);
    std::vector<double> marks;
    for (const inference::Limit& limit : {limits.lower, limits.upper}) {
        if (limits.given() && limit.kind == inference::LimitKind::Found) {
            marks.push_back(limit.value * 100.0);
        }
    }
    PlotLimitMarks(canvas, press.PROFLL, press.PROFPCT, NPTS, marks);

    // Whole or not at all. The write is unbuffered and checked here, and so is the flush:
    // QSaveFile::commit() alone has been seen to put a file in place after a failed buffered write
    // (a full disk), leaving an empty plot and no word of it. Not committed, the temporary file
    // goes with `out`.
    QByteArray png;
    QSaveFile out(QString::fromStdString(file.string()));
    const std::string cannot = "the plot could not be saved to " + file.string() + ": ";
    if (!writePng(canvas.image(), png)) {
        result.problem = cannot + "it could not be drawn as PNG";
    } else if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        result.problem = cannot + out.errorString().toStdString();
    } else if (out.write(png) != png.size() || !out.flush() ||
               out.error() != QFileDevice::NoError) {
        // Qt's own text for a failed write is "Unknown error"; the system's says what it was.
        result.problem = cannot + std::strerror(errno);
        out.cancelWriting();
    } else if (!out.commit()) {
        result.problem = cannot + out.errorString().toStdString();
    }
    return result;
}

} // namespace kestrum::survey

extern "C" __attribute__((visibility("default"))) void
kestrum_survey_plotter(std::unique_ptr<kestrum::survey::Plotter>& plotter)
{
    plotter = std::make_unique<kestrum::survey::WindowPlotter>();
}
