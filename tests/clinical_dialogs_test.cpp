// The dialogs' clinical units, driven as a person drives them: acuity in the
// clinical notations, the contrast field as a Pelli-Robson score, and the
// image width from the photo's EXIF focal length. Expected values by hand:
// 20/40 = 0.5, 6/60 = logMAR 1 = 0.1; log CS 1.65 is the factor 10^0.3 =
// 1.99526; 2 atan(18/36) = 53.1301023541560 degrees; factor 2 is log CS
// 1.95 - log10 2 = 1.64897.
#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <cstdint>
#include <string>
#include <vector>

#include "cli_testutil.hpp"
#include "dialogs/dialogs.hpp"
#include "dialogs_testutil.hpp"
#include "testutil.hpp"
#include "toolkit/imageio.hpp"

using namespace ocu;
using namespace ocu::testing;

namespace {

const auto* const qt_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void click(QWidget* fig, const char* button) {
    auto* b = fig->findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    QTest::mouseClick(b, Qt::LeftButton);
}

// Chooses entry `index` (0-based) of a selection list as a person does.
void choose(QWidget* fig, const char* list, int index) {
    auto* c = fig->findChild<QComboBox*>(list);
    ASSERT_NE(c, nullptr) << list;
    c->setCurrentIndex(index);
    emit c->activated(index);
}

std::string label_text(QWidget* fig, const char* tag) {
    auto* l = fig->findChild<QLabel*>(tag);
    return l ? l->text().toStdString() : "<no label>";
}

// A 32 x 48 JPEG, tagged with the 35 mm focal length unless `focal` is 0.
void make_photo(const std::string& path, int focal) {
    imwrite(testutil::random_u8(32, 48, 3, 5), path);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27's std::auto_ptr
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
#pragma GCC diagnostic pop
    image->readMetadata();
    if (focal > 0) image->exifData()["Exif.Photo.FocalLengthIn35mmFilm"] = static_cast<std::uint16_t>(focal);
    image->writeMetadata();
}

}  // namespace

TEST(ClinicalDialogs, AcuityFieldsReadEveryNotationAndAPlainNumberStaysDecimal) {
    struct Case {
        const char* typed;
        double mar;
    };
    const Case cases[] = {{"20/40", 0.5}, {" 6/60 ", 0.1}, {"logMAR 1.0", 0.1}, {"0.3 LogMAR", 0.501187233627272},
                          {"0.25", 0.25}};
    FakePlatformScope fake;
    for (const Case& c : cases) {
        WhenOpen w("fixindepparms", [&](QWidget* fig) {
            type_into(fig, "edit_mar", c.typed);
            click(fig, "pushbutton_fixparms");
        });
        EXPECT_NEAR(dlg::fixindepparms(20, 1, 1).mar, c.mar, 1e-14) << c.typed;
        WhenOpen w2("fixdepparms", [&](QWidget* fig) {
            type_into(fig, "edit_mar", c.typed);
            click(fig, "pushbutton_fixdepparms");
        });
        EXPECT_NEAR(dlg::fixdepparms(20, 1).mar, c.mar, 1e-14) << c.typed;
    }
    EXPECT_TRUE(fake->errors.empty()) << fake->errors[0];
}

TEST(ClinicalDialogs, AcuityTextInNoNotationIsRefusedWithTheReasonAndKept) {
    struct Case {
        const char* typed;
        const char* message;
    };
    const Case cases[] = {
        {"20/0", "Visual acuity: '20/0' is not an acuity; both parts of a Snellen fraction must be greater than 0."},
        {"logMAR 3.5", "Visual acuity: 'logMAR 3.5' is not an acuity; a logMAR value must lie between -0.3 and 3."},
        {"6/12 m", "Visual acuity: '6/12 m' is not an acuity; enter a decimal acuity (for example 0.5), a Snellen "
                   "fraction (20/40, 6/12) or a logMAR value (logMAR 0.3, 0.3 logMAR)."},
        {"0", "Visual acuity: '0' is out of range; enter the decimal acuity, a number greater than 0 (for example 1 or "
              "0.5)."}};
    FakePlatformScope fake;
    for (const Case& c : cases) {
        fake->errors.clear();
        QString kept;
        bool open_after = false;
        WhenOpen w("fixindepparms", [&](QWidget* fig) {
            type_into(fig, "edit_width", "30");
            type_into(fig, "edit_mar", c.typed);
            click(fig, "pushbutton_fixparms");
            open_after = fig->isVisible();
            kept = field_text(fig, "edit_mar");
            type_into(fig, "edit_mar", "20/200");
            click(fig, "pushbutton_fixparms");
        });
        const auto v = dlg::fixindepparms(20, 1, 1);
        ASSERT_EQ(fake->errors.size(), 1u) << c.typed;
        EXPECT_EQ(fake->errors[0], c.message);
        EXPECT_TRUE(open_after);
        EXPECT_EQ(kept.toStdString(), c.typed);
        EXPECT_EQ(v.width, 30);
        EXPECT_DOUBLE_EQ(v.mar, 0.1);
    }
}

TEST(ClinicalDialogs, ContrastAsAPelliRobsonScore) {
    FakePlatformScope fake;
    std::string shown, label;
    // Switching the unit converts the value shown; OK without typing returns the factor unchanged.
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        choose(fig, "popup_contrastunit", 1);
        shown = field_text(fig, "edit_contrastfactor").toStdString();
        label = label_text(fig, "text_contrastfactor");
        click(fig, "pushbutton_fixparms");
    });
    EXPECT_EQ(dlg::fixindepparms(20, 1, 2).contrastf, 2);
    EXPECT_EQ(shown, "1.649");
    EXPECT_EQ(label, "Contrast sensitivity (log CS)");

    // A score out of the chart's range is refused and kept; 1.65 is the factor 10^0.3.
    bool open_after = false;
    QString kept, back_as_factor;
    WhenOpen w2("fixindepparms", [&](QWidget* fig) {
        choose(fig, "popup_contrastunit", 1);
        type_into(fig, "edit_contrastfactor", "2.5");
        click(fig, "pushbutton_fixparms");
        open_after = fig->isVisible();
        kept = field_text(fig, "edit_contrastfactor");
        type_into(fig, "edit_contrastfactor", "1.65");
        choose(fig, "popup_contrastunit", 0);  // back to the factor: 1.9953
        back_as_factor = field_text(fig, "edit_contrastfactor");
        choose(fig, "popup_contrastunit", 1);
        click(fig, "pushbutton_fixparms");
    });
    const auto v = dlg::fixindepparms(20, 1, 1);
    ASSERT_EQ(fake->errors.size(), 1u);
    EXPECT_EQ(fake->errors[0],
              "Contrast sensitivity (log CS): '2.5' is out of range; enter a Pelli-Robson score from 0 to 2.4 (1.95 is "
              "normal).");
    EXPECT_TRUE(open_after);
    EXPECT_EQ(kept, "2.5");
    EXPECT_EQ(back_as_factor, "1.9953");
    EXPECT_NEAR(v.contrastf, 1.99526231496888, 1e-12);
}

TEST(ClinicalDialogs, WidthFromThePhoto) {
    testutil::TempDir dir;
    const std::string tagged = dir.file("tagged.jpg"), plain = dir.file("plain.jpg");
    make_photo(tagged, 36);
    make_photo(plain, 0);
    FakePlatformScope fake;
    QString shown;
    WhenOpen w("fixindepparms", [&](QWidget* fig) {
        click(fig, "pushbutton_widthphoto");
        shown = field_text(fig, "edit_width");
        click(fig, "pushbutton_fixparms");
    });
    EXPECT_NEAR(dlg::fixindepparms(20, 1, 1, tagged).width, 53.1301023541560, 1e-9);
    EXPECT_EQ(shown, "53.1301");
    EXPECT_TRUE(fake->errors.empty()) << fake->errors[0];

    // Without the tag, or without a photo, each dialog says so and keeps its width.
    struct Dialog {
        const char* layout;
        const char* ok;
        std::function<double(const std::string&)> call;
    };
    const std::vector<Dialog> dialogs = {
        {"fixindepparms", "pushbutton_fixparms", [](const std::string& p) { return dlg::fixindepparms(20, 1, 1, p).width; }},
        {"fixdepparms", "pushbutton_fixdepparms", [](const std::string& p) { return dlg::fixdepparms(20, 1, p).width; }},
        {"glareparms2", "pushbutton_glareparms2", [](const std::string& p) { return dlg::glareparms2(20, 1, p).width; }}};
    for (const Dialog& d : dialogs) {
        for (const std::string& photo : {plain, std::string()}) {
            fake->errors.clear();
            bool open_after = false;
            WhenOpen w2(d.layout, [&](QWidget* fig) {
                type_into(fig, "edit_width", "25");
                click(fig, "pushbutton_widthphoto");
                open_after = fig->isVisible();
                shown = field_text(fig, "edit_width");
                click(fig, d.ok);
            });
            EXPECT_EQ(d.call(photo), 25) << d.layout;
            EXPECT_TRUE(open_after);
            EXPECT_EQ(shown, "25");
            ASSERT_EQ(fake->errors.size(), 1u) << d.layout;
            const std::string expected = photo.empty()
                                             ? "Image width (degrees): there is no photo file to take the width from"
                                             : "Image width (degrees): \"" + plain + "\" has no 35 mm-equivalent focal length";
            EXPECT_EQ(fake->errors[0].rfind(expected, 0), 0u) << fake->errors[0];
        }
    }
}
