#include "ProfileScan.h"

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
    while (static_cast<float>(press.SCANVAL) < press.SCANHI && NPTS < kMostPoints) {
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

} // namespace kestrum
