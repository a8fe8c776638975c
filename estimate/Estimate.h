// The estimate's steps that need no window: the model record built from the values read, the fit,
// and the estimates taken back out of the minimiser's scaled units. The window's "estimate"
// command and the command-line estimator run the same steps.
#pragma once

#include "EstimatePress.h"
#include "ModelRecord.h"

namespace kestrum {

// S and P with their factors and bounds, the free list (P always, S when sFree), the frequencies,
// the reals, and the scaled start and bounds. Leaves IUSER(3) as it was when S is fixed.
void BuildRecord(const EstimateInputs& inputs, bool sFree, EstimatePress& press,
                 ModelRecord& record);

// One call of the entry point for the full fit; XC and F hold its answer, IFAIL its outcome.
void Fit(EstimatePress& press, ModelRecord& record, KestrumN_E04JYF N_E04JYF);

// The estimates out of scaled units into PARMS; a fixed S keeps the value read.
void BackTransform(EstimatePress& press);

} // namespace kestrum
