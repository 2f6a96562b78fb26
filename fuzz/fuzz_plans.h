#pragma once
// What a fuzz target does with a writer's plan: the content it gives, composed as the container
// composes plans and also applied as it is, the two required to agree.

#include <span>

#include "fuzz/fuzz_entry.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"

// In changed by Plan (In itself when the plan changes nothing).
inline TBytes FuzzApplied(const TBytes &In, const TRewritePlan &Plan)
{
  if (Plan.ChangesNothing()) return In;
  TRewritePlan composed;
  FuzzRequire(ComposePlans(static_cast<std::int64_t>(In.size()), std::span<const TRewritePlan>(&Plan, 1), composed));
  TMemoryStream out{TBytes(In)};
  FuzzRequire(ApplyPlanToStream(out, composed) == rwOk);
  TMemoryStream direct{TBytes(In)};
  FuzzRequire(ApplyPlanToStream(direct, Plan) == rwOk);
  FuzzRequire(out.Data() == direct.Data());
  return out.Data();
}
