// The combined simulation: how one step's result feeds the next, one step
// alone and two steps against the simulations run by hand, the fixation
// click after a combined run, and every preset end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "colour/colour.hpp"
#include "fixdep/simulation.hpp"
#include "fixindep/fixindep.hpp"
#include "glare/glare.hpp"
#include "scenario/pipeline.hpp"
#include "scenario/scenario.hpp"
#include "toolkit/error.hpp"
#include "toolkit/imageio.hpp"
#include "toolkit/paths.hpp"

using namespace ocu;
namespace sc = ocu::scenario;

namespace {

const AnyImage& photo() {
    static const AnyImage im = imread(program_data_dir() + "NatIm13.jpg");
    return im;
}

sc::Params params(sc::Steps steps) {
    sc::Params p;
    p.steps = steps;
    p.width = 30;
    p.mar = 0.3;
    p.contrastf = 2;
    p.glarefact = 4;
    p.colour = {colour::Deficiency::Deutan, 0.7};
    p.polim = imread(program_data_dir() + "polarplotREglaucoma.bmp");
    return p;
}

glare::Params glare_of(const sc::Params& p) { return {.width = p.width, .glarefact = p.glarefact}; }
fixindep::Params acuity_of(const sc::Params& p) {
    fixindep::Params f;
    f.width = p.width;
    f.mar = p.mar;
    f.contrastf = p.contrastf;
    return f;
}
fixdep::Params field_of(const sc::Params& p) { return {.width = p.width, .mar = p.mar, .polim = p.polim}; }

// The field simulation alone on `im`, fixating f.
ArrayD field_alone(const AnyImage& im, const sc::Params& p, fixdep::Fixation f) {
    fixdep::Session s = fixdep::prepare(image_cols(im), image_rows(im), field_of(p));
    return fixdep::render(s, f, im);
}

}  // namespace

TEST(StepInput, FieldReadsResultsAsSampleValuesTheOthersAsTheyAre) {
    const ArrayD r(1, 3, 1, std::vector<double>{0, 0.5, 1});
    const ArrayD field = std::get<ArrayD>(sc::step_input(sc::Step::Field, r));
    EXPECT_EQ(std::vector<double>(field.span().begin(), field.span().end()), (std::vector<double>{0, 127.5, 255}));
    EXPECT_EQ(std::get<ArrayD>(sc::step_input(sc::Step::Acuity, r)), r);
    EXPECT_EQ(std::get<ArrayD>(sc::step_input(sc::Step::Colour, r)), r);
}

TEST(Pipeline, OneStepAloneIsThatSimulationBitForBit) {
    const AnyImage& im = photo();
    sc::Params p = params({.glare = true});
    EXPECT_EQ(sc::run(im, p), glare::run(im, glare_of(p)).imt);
    p = params({.acuity = true});
    EXPECT_EQ(sc::run(im, p), fixindep::run(im, acuity_of(p)));
    p = params({.colour = true});
    EXPECT_EQ(sc::run(im, p), colour::run(im, p.colour));
    p = params({.field = true});
    EXPECT_EQ(sc::run(im, p, fixdep::Fixation{150, 90}), field_alone(im, p, {150, 90}));
}

TEST(Pipeline, TwoStepsAreTheTwoSimulationsChainedByHand) {
    const AnyImage& im = photo();
    sc::Params p = params({.glare = true, .acuity = true});
    const ArrayD glared = glare::run(im, glare_of(p)).imt;
    EXPECT_EQ(sc::run(im, p), fixindep::run(AnyImage(glared), acuity_of(p)));

    p = params({.acuity = true, .field = true});
    const ArrayD blurred = fixindep::run(im, acuity_of(p));
    ArrayD as_samples = blurred;  // displayed values 0..1 read as the samples 255 x
    for (double& v : as_samples.span()) v *= 255;
    const ArrayD expected = field_alone(AnyImage(as_samples), p, {400, 250});
    EXPECT_EQ(sc::run(im, p, fixdep::Fixation{400, 250}), expected);

    p = params({.glare = true, .colour = true});
    EXPECT_EQ(sc::run(im, p), colour::run(AnyImage(glare::run(im, glare_of(p)).imt), p.colour));
}

TEST(Pipeline, ClickAfterACombinedRunIsTheFullRunAtThatPoint) {
    const AnyImage& im = photo();
    const sc::Params p = params({.glare = true, .acuity = true, .colour = true, .field = true});
    sc::Prepared s = sc::prepare(im, p);
    EXPECT_EQ(s.centre().x, 300);
    EXPECT_EQ(s.centre().y, 200);
    ArrayD view = s.render(s.centre());
    s.render({120, 333}, view);  // the click, into the kept storage
    const ArrayD full = sc::run(im, p, fixdep::Fixation{120, 333});
    EXPECT_EQ(view, full);
    EXPECT_NE(view, sc::run(im, p));  // another fixation looks different

    // Without a field step the fixation changes nothing.
    sc::Prepared nofield = sc::prepare(im, params({.glare = true, .acuity = true}));
    EXPECT_FALSE(nofield.has_field());
    EXPECT_EQ(nofield.render({1, 1}), nofield.render({500, 300}));
}

TEST(Pipeline, RefusesNoStepAndNamesTheBadValueOfAnEnabledStep) {
    const AnyImage& im = photo();
    try {
        sc::run(im, params({}));
        FAIL() << "no step accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("no step"), std::string::npos) << e.what();
    }
    sc::Params p = params({.acuity = true});
    p.mar = 0;
    EXPECT_THROW(sc::run(im, p), Error);
    p.steps = {.glare = true};  // acuity is not used by glare alone
    EXPECT_NO_THROW(sc::check(600, 400, p));
    p = params({.colour = true});
    p.colour.severity = 1.5;
    EXPECT_THROW(sc::run(im, p), Error);
    p = params({.field = true});
    p.polim = AnyImage(ArrayU8(10, 10, 3));
    EXPECT_THROW(sc::run(im, p), Error);
}

TEST(Presets, EveryPresetRunsOnTheDefaultImageWithin0To1) {
    const std::string input = program_data_dir() + "NatIm13.jpg";
    ASSERT_EQ(sc::presets().size(), 9u);
    for (const sc::Scenario& s : sc::presets()) {
        SCOPED_TRACE(s.name);
        EXPECT_NE(s.description.find("illustrative"), std::string::npos);
        const ArrayD r = sc::run(photo(), sc::resolve(s, input));
        ASSERT_EQ(r.rows(), 400u);
        ASSERT_EQ(r.cols(), 600u);
        ASSERT_EQ(r.planes(), 3u);
        std::size_t bad = 0;
        for (const double v : r.span()) bad += !(v >= 0 && v <= 1);  // NaN fails both
        EXPECT_EQ(bad, 0u);
    }
    EXPECT_EQ(&sc::preset("cataract"), &sc::presets()[1]);
    EXPECT_THROW(sc::preset("myopia"), Error);
}
