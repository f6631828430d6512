#include "scenario/pipeline.hpp"

#include <utility>

#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "toolkit/error.hpp"

namespace ocu::scenario {

namespace {

glare::Params glare_params(const Params& p) { return {.width = p.width, .glarefact = p.glarefact}; }

fixindep::Params acuity_params(const Params& p) {
    fixindep::Params f;
    f.width = p.width;
    f.mar = p.mar;
    f.contrastf = p.contrastf;
    return f;
}

fixdep::Params field_params(const Params& p) { return {.width = p.width, .mar = p.mar, .polim = p.polim}; }

}  // namespace

void check(std::size_t sx, std::size_t sy, const Params& p) {
    if (!p.steps.any()) {
        throw Error("The scenario enables no step: choose at least one of glare, acuity, colour and field.");
    }
    if (p.steps.glare) glare::check(glare_params(p));
    if (p.steps.acuity) fixindep::check(acuity_params(p));
    if (p.steps.colour) colour::check_severity(p.colour.severity);
    if (p.steps.field) fixdep::check(sx, sy, field_params(p));
}

AnyImage step_input(Step next, ArrayD previous) {
    if (next == Step::Field) {
        for (double& v : previous.span()) v *= 255.0;
    }
    return AnyImage(std::move(previous));
}

const ArrayD& Prepared::resmap() const {
    static const ArrayD kNone;
    return session_ ? session_->resmap() : kNone;
}

ArrayD Prepared::render(fixdep::Fixation f) {
    ArrayD out;
    render(f, out);
    return out;
}

void Prepared::render(fixdep::Fixation f, ArrayD& into) {
    if (session_) {
        fixdep::render(*session_, f, squared_, into);
    } else {
        into = std::get<ArrayD>(intermediate_);
    }
}

Prepared prepare(const AnyImage& im, const Params& p, const Progress* progress) {
    Prepared s;
    s.sx_ = image_cols(im);
    s.sy_ = image_rows(im);
    check(s.sx_, s.sy_, p);

    // Each step's result, while there is one; the photo itself before that.
    ArrayD result;
    bool have_result = false;
    // Each enabled step is an equal part of the reported work.
    const int nsteps = int{p.steps.glare} + int{p.steps.acuity} + int{p.steps.colour} + int{p.steps.field};
    int done = 0;
    Progress part;
    auto next_part = [&]() -> const Progress* {
        const double from = static_cast<double>(done) / nsteps;
        ++done;
        return part_of(progress, from, static_cast<double>(done) / nsteps, part);
    };
    auto input = [&](Step next) -> AnyImage {
        return have_result ? step_input(next, std::move(result)) : im;
    };
    if (p.steps.glare) {
        result = glare::run(im, glare_params(p), next_part()).imt;
        have_result = true;
    }
    if (p.steps.acuity) {
        const AnyImage in = input(Step::Acuity);
        result = fixindep::run(in, acuity_params(p), next_part());
        have_result = true;
    }
    if (p.steps.colour) {
        const AnyImage in = input(Step::Colour);
        const Progress* q = next_part();
        report(q, 0.0);
        result = colour::run(in, p.colour);
        have_result = true;
    }
    if (p.steps.field) {
        s.intermediate_ = input(Step::Field);
        s.session_ = fixdep::prepare(s.sx_, s.sy_, field_params(p), next_part());
        s.squared_ = fixdep::SquaredImage(s.intermediate_);
    } else {
        s.intermediate_ = AnyImage(std::move(result));
    }
    // Past the field step's masks: the engine holds them now, so no stop here.
    if (progress) progress->unstoppable().at(1.0);
    return s;
}

ArrayD run(const AnyImage& im, const Params& p, std::optional<fixdep::Fixation> f) {
    Prepared s = prepare(im, p);
    return s.render(f ? *f : s.centre());
}

}  // namespace ocu::scenario
