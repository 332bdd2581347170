// The dry run: the checks and the naming of the processing loop, without its writes.
#include "pipeline/dry_run.h"

#include "pipeline/image_steps.h"
#include "pipeline/run_plan.h"

#include <unordered_set>

namespace quill::pipeline {
namespace {

using imagefiles::ImageResult;

DryRunLine lineFor(const imagefiles::ImageRecord& record, ImageResult result, std::int32_t detail,
                   const std::string& output) {
    DryRunLine line;
    line.source = record.sourcePath;
    line.output = output;
    line.failure = true;
    switch (result) {
    case ImageResult::Pending:
    case ImageResult::Done:
        line.code = "ok";
        line.failure = false;
        break;
    case ImageResult::Unreadable:
        line.code = "unreadable";
        line.reason = "unreadable";
        break;
    case ImageResult::UnsupportedFormat:
        line.code = "unsupported";
        line.reason = "unsupported format";
        break;
    case ImageResult::SkippedExisting:
        line.code = "exists";
        line.reason = "would overwrite an existing file";
        break;
    case ImageResult::SameAsSource:
        line.code = "same-as-source";
        line.reason = "same as source";
        break;
    case ImageResult::StepFailed:
        if (detail == imagefiles::DetailNumbering) {
            line.code = "numbering";
            line.reason = "no free number for the name";
            break;
        }
        [[fallthrough]];
    case ImageResult::LoadFailed:
    case ImageResult::WriteFailed:
        line.code = "failed";
        line.reason = "failed while it was prepared";
        break;
    }
    return line;
}

} // namespace

bool dryRunImages(const imagefiles::ImageList& images, const settings::Preset& settings,
                  const settings::RunSettings& run, settings::CollisionPolicy& collisions,
                  const std::function<void(const DryRunLine&)>& report) {
    const RunPlan plan = makeRunPlan(settings, run, images, {});
    RunNaming naming(plan, collisions);
    naming.namer.leaveDirectoriesAlone();
    // The outputs that earlier images would have written by then: existing files for later ones.
    std::unordered_set<std::string> planned;
    bool allOk = true;
    for (const imagefiles::ImageRecord& record : images.records()) {
        DryRunLine line;
        if (record.resultState != ImageResult::Pending) {
            line = lineFor(record, record.resultState, record.resultCode, {});
        } else if (record.resultCode == imagefiles::DetailFiltered) {
            line.source = record.sourcePath;
            line.code = "filtered";
            line.reason = "filtered";
        } else {
            const SourceCheck source = checkSource(plan, record);
            ImageOutcome outcome = source.outcome;
            std::string output;
            if (outcome.ok()) {
                const OutputTarget target = nameOutput(plan, naming, record, source.format);
                outcome = target.outcome;
                output = target.output.path;
                const bool numbered = target.output.numberUsed >= 0;
                if (outcome.ok() && !numbered && output != record.sourcePath &&
                    planned.contains(output)) {
                    const settings::CollisionAnswer answer = collisions.decide(output);
                    if (answer == settings::CollisionAnswer::SkipThis ||
                        answer == settings::CollisionAnswer::SkipAll)
                        outcome = {.result = ImageResult::SkippedExisting};
                }
                if (outcome.ok()) planned.insert(output);
            }
            line = lineFor(record, outcome.result, outcome.detail, output);
        }
        allOk = allOk && !line.failure;
        report(line);
    }
    return allOk;
}

} // namespace quill::pipeline
