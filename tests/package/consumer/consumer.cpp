// Prints the maximum log likelihood of (10, 20, 5, 7), at the estimates' closed form.
#include <cstdint>
#include <cstdio>

#include <kestrum.h>

int main()
{
    const std::int32_t hist[4] = {10, 20, 5, 7};
    const double a = (2.0 * hist[1] + hist[3]) / (hist[0] + 2.0 * hist[1] + hist[2] + 2.0 * hist[3]);
    const double q = static_cast<double>(hist[2]) / (hist[0] + hist[2]);
    const double s = a + q * (1.0 - a) / a;
    const double p = a / s;
    std::printf("%.3f\n", RLOGLIK(hist, &p, &s));
    return 0;
}
