// Everything inferred from one block in one call: the fit, the profile limits of the estimated
// parameters, standard errors and the fit check.
#pragma once

#include "Fit.h"
#include "FitCheck.h"
#include "Model.h"
#include "Profile.h"
#include "StandardErrors.h"

namespace kestrum::inference {

struct Analysis {
    Problem problem;
    Fit fit;
    ProfileInterval limitsP;
    ProfileInterval limitsS; // not given, with its reason, when S is fixed
    StandardErrors standardErrors;
    FitCheck fitCheck;

    const ProfileInterval& limits(Parameter parameter) const
    {
        return parameter == Parameter::P ? limitsP : limitsS;
    }
};

// Allocates nothing; cheap enough to run on many thousands of blocks a second.
Analysis analyse(const Problem& problem);

} // namespace kestrum::inference
