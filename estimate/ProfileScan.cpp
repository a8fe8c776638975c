#include "ProfileScan.h"

#include <algorithm>
#include <cmath>

#include "NumberCore.h"

namespace kestrum {

namespace {

// The plot is built for values on whole hundredths; a scan narrower than 0.1 would round its step
// to 0 and never end, so it moves by the smallest step the plot can show instead.
constexpr float kSmallestStep = 0.01f;
constexpr std::int16_t kMostPoints = 100;

// A number rounded through its text in a digit pattern, as the range ends and positions are. The
// locale's decimal point reads back as it was written, so the value is the same in every locale.
float throughText(double value, std::string_view pattern)
{
    const auto rounded = text::readDouble(text::formatNumber(value, pattern));
    return static_cast<float>(rounded.value.value_or(value));
}

// Whether the scan takes another point at value, having taken points already.
bool scanGoesOn(const EstimatePress& press, double value, std::int16_t points)
{
    return static_cast<float>(value) < press.SCANHI && points < kMostPoints;
}

// A range so wide that the scan runs from 0.01 to 0.99 whatever the estimate inside the bounds:
// any wider plots the same.
constexpr int kWidestRangePct = 10000;

} // namespace

void ScanRange(EstimatePress& press, double E)
{
    press.SCANLO = throughText((1.0 - press.RANGEPCT / 100.0) * E, "0.00");
    if (press.SCANLO < 0.01f) {
        press.SCANLO = 0.01f;
    }
    press.SCANHI = static_cast<float>((press.RANGEPCT / 100.0 + 1.0) * E);
    if (press.SCANHI > 0.99f) {
        press.SCANHI = 0.99f;
    }
    const double quotient =
        (static_cast<double>(press.SCANHI) - static_cast<double>(press.SCANLO)) / 20.0;
    press.SCANSTEP = throughText(quotient, "0.00");
    if (press.SCANSTEP < kSmallestStep) {
        press.SCANSTEP = kSmallestStep;
    }
}

void ScanPoints(EstimatePress& press, std::int16_t& NPTS,
                const std::function<double(double)>& heightAt)
{
    press.SCANVAL = static_cast<double>(press.SCANLO);
    NPTS = 0;
    while (scanGoesOn(press, press.SCANVAL, NPTS)) {
        const double height = heightAt(press.SCANVAL);
        NPTS = static_cast<std::int16_t>(NPTS + 1);
        press.PROFLL(NPTS) = static_cast<float>(height);
        press.PROFPCT(NPTS) = throughText(press.SCANVAL * 100.0, "0");
        press.SCANVAL = press.SCANVAL + static_cast<double>(press.SCANSTEP);
    }
}

int ScanProfile(EstimatePress& press, ModelRecord& record, bool profileOfP, std::int16_t& NPTS,
                KestrumN_E04JYF N_E04JYF)
{
    press.N = press.N - 1;
    record.IUSER(KESTRUM_IUSER_IFREE) = profileOfP ? KESTRUM_PARAM_S : KESTRUM_PARAM_P;

    int unconverged = 0;
    ScanPoints(press, NPTS, [&](double value) {
        record.USER(profileOfP ? KESTRUM_USER_P : KESTRUM_USER_S) = value;
        press.LIW = KESTRUM_LIW;
        press.LW = KESTRUM_LW;
        press.IFAIL = 1;
        press.IBOUND = 0;
        N_E04JYF(&press.N, &press.IBOUND, press.BL.data(), press.BU.data(), press.XC.data(),
                 &press.F, press.IW.data(), &press.LIW, press.W.data(), &press.LW,
                 record.IUSER.data(), record.USER.data(), &press.IFAIL);
        // With nothing free the library only evaluates and leaves IFAIL as it was.
        if (press.N > 0 && press.IFAIL != KESTRUM_IFAIL_CONVERGED) {
            ++unconverged;
        }
        return -press.F;
    });
    return unconverged;
}

std::optional<std::pair<float, float>> ScanEnds(const EstimatePress& press)
{
    double value = static_cast<double>(press.SCANLO);
    double last = value;
    std::int16_t points = 0;
    while (scanGoesOn(press, value, points)) {
        last = value;
        ++points;
        value += static_cast<double>(press.SCANSTEP);
    }
    if (points == 0) {
        return std::nullopt;
    }
    return std::pair{throughText(static_cast<double>(press.SCANLO) * 100.0, "0"),
                     throughText(last * 100.0, "0")};
}

ScanReach ReachOfScans(double E, double rangePct, std::span<const double> valuesPct)
{
    ScanReach reach;
    for (int range = 1; range <= kWidestRangePct; ++range) {
        EstimatePress press;
        press.RANGEPCT = range;
        ScanRange(press, E);
        const auto ends = ScanEnds(press);
        if (!ends || ends->first == ends->second) {
            continue;
        }
        reach.lowest = std::min(reach.lowest, ends->first);
        reach.highest = std::max(reach.highest, ends->second);
        const bool all = std::all_of(valuesPct.begin(), valuesPct.end(), [&ends](double value) {
            return value >= ends->first && value <= ends->second;
        });
        // The nearest to the range asked for; of two as near, the wider.
        if (all && (!reach.rangePct ||
                    std::abs(range - rangePct) <= std::abs(*reach.rangePct - rangePct))) {
            reach.rangePct = range;
        }
        // Once the scan spans both bounds, a wider range plots the same points.
        if (press.SCANLO <= 0.01f && press.SCANHI >= 0.99f && range > rangePct) {
            break;
        }
    }
    return reach;
}

} // namespace kestrum
