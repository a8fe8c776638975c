#include "Analysis.h"

namespace kestrum::inference {

Analysis analyse(const Problem& problem)
{
    Analysis a;
    a.problem = problem;
    a.fit = fit(problem);
    a.limitsP = profileLimits(problem, a.fit, Parameter::P);
    a.limitsS = profileLimits(problem, a.fit, Parameter::S);
    a.standardErrors = standardErrors(problem.counts, a.fit);
    a.fitCheck = fitCheck(problem.counts, a.fit);
    return a;
}

} // namespace kestrum::inference
