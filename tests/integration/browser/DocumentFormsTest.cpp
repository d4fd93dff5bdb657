#include "adapters/html/GumboDocument.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace torvaline {
namespace {

constexpr const char* kPageUrl = "http://host.test/dir/page.html?x=1";

struct Parsed {
    explicit Parsed(const std::string& html, const std::string& url = kPageUrl)
        : doc(html, url) {
        doc.setSubmitHandler([this](const FormSubmission& s) { submissions.push_back(s); });
    }
    std::vector<std::string> values(int form) {
        std::vector<std::string> out;
        for (int i = 0; i < doc.formElementCount(form); ++i)
            out.push_back(doc.elementValue(form, i));
        return out;
    }
    GumboDocument doc;
    std::vector<FormSubmission> submissions;
};

TEST(DocumentForms, CountsFormsAndListsElementsInTreeOrder) {
    Parsed p("<form><input name=a value=1><img><input type=image name=i>"
             "<select name=s><option>x</option></select><textarea name=t>tt</textarea>"
             "<button>b</button><output>o</output><p><input type=hidden value=h></p></form>"
             "<form><form><input value=inner></form></form><div><input value=orphan></div>");
    EXPECT_EQ(p.doc.formTagCount(), 2);
    EXPECT_EQ(p.doc.formCount(), 2);
    EXPECT_EQ(p.values(0), (std::vector<std::string>{"1", "x", "tt", "", "o", "h"}));
    // The nested FORM start tag is dropped, so its input belongs to the outer form.
    EXPECT_EQ(p.values(1), (std::vector<std::string>{"inner"}));
}

TEST(DocumentForms, PageWithoutFormsHasNone) {
    Parsed p("<p>nothing here</p>");
    EXPECT_EQ(p.doc.formTagCount(), 0);
    EXPECT_EQ(p.doc.formCount(), 0);
    EXPECT_THROW(p.doc.formElementCount(0), DomError);
}

TEST(DocumentForms, ValuesAsABrowserComputesThem) {
    Parsed p("<form>"
             "<input type=checkbox name=c>"
             "<input type=radio name=r value=rv>"
             "<input type=text value='  spaced  '>"
             "<input value='Free user '>"
             "<input type=url value='  http://a/ '>"
             "<button value=bv>label</button>"
             "<textarea>line1\nline2 &amp; more</textarea>"
             "<select><option value=a>A</option><option selected>  B  text </option></select>"
             "<select><option disabled>d</option><option>first</option></select>"
             "<select multiple><option>m</option></select>"
             "<select></select>"
             "<select><optgroup><option value=g>G</option></optgroup></select>"
             "<input type=file value=ignored>"
             "</form>");
    EXPECT_EQ(p.values(0), (std::vector<std::string>{"on", "rv", "  spaced  ", "Free user ",
                                                     "http://a/", "bv", "line1\nline2 & more",
                                                     "B text", "first", "", "", "g", ""}));
}

TEST(DocumentForms, FieldsetAndObjectHaveNoValue) {
    Parsed p("<form><fieldset><input value=in></fieldset><object></object>"
             "<input value=after></form>");
    ASSERT_EQ(p.doc.formElementCount(0), 4);
    EXPECT_THROW(p.doc.elementValue(0, 0), DomError);
    EXPECT_EQ(p.doc.elementValue(0, 1), "in");
    EXPECT_THROW(p.doc.elementValue(0, 2), DomError);
    EXPECT_EQ(p.doc.elementValue(0, 3), "after");
    EXPECT_THROW(p.doc.elementValue(0, 4), DomError);
    EXPECT_THROW(p.doc.elementValue(1, 0), DomError);
    EXPECT_THROW(p.doc.click(0, -1), DomError);
}

TEST(DocumentForms, ControlsFollowTheirFormOwner) {
    // form="" reassigns; a FORM inside a table stays empty but owns the controls up to </form>.
    Parsed p("<form id=f1></form><input form=f1 value=byid><input form=nope value=none>"
             "<table><form><tr><td><input value=tabled></td></tr></form></table>"
             "<input value=after>");
    ASSERT_EQ(p.doc.formCount(), 2);
    EXPECT_EQ(p.values(0), (std::vector<std::string>{"byid"}));
    EXPECT_EQ(p.values(1), (std::vector<std::string>{"tabled"}));
}

TEST(DocumentForms, NonSubmitClicksDoNotNavigate) {
    Parsed p("<form><input type=text name=t value=v><input type=button value=b>"
             "<button type=reset>r</button><button type=button>x</button>"
             "<input type=submit disabled value=off><input type=checkbox name=c></form>");
    for (int i = 0; i < p.doc.formElementCount(0); ++i)
        p.doc.click(0, i);
    EXPECT_TRUE(p.submissions.empty());
}

TEST(DocumentForms, GetSubmissionPutsSuccessfulControlsInTheQuery) {
    Parsed p("<form action='search#top'>"
             "<input name=q value='a b&c'>"
             "<input name=dis value=x disabled>"
             "<fieldset disabled><legend><input name=inlegend value=1></legend>"
             "<input name=infieldset value=1></fieldset>"
             "<input value=noname>"
             "<input type=checkbox name=unchecked>"
             "<input type=checkbox name=ck checked>"
             "<input type=radio name=r value=1 checked><input type=radio name=r value=2 checked>"
             "<select name=s multiple><option selected>x</option><option selected>y</option>"
             "</select>"
             "<textarea name=t>l1\nl2</textarea>"
             "<input type=submit name=go value=Go><input type=submit name=other value=No>"
             "<button name=b value=bv>B</button>"
             "</form>");
    const int go = 12;
    ASSERT_EQ(p.doc.elementValue(0, go), "Go");
    p.doc.click(0, go);
    ASSERT_EQ(p.submissions.size(), 1u);
    const FormSubmission& s = p.submissions[0];
    EXPECT_EQ(s.method, "GET");
    EXPECT_EQ(s.url, "http://host.test/dir/search?q=a+b%26c&inlegend=1&ck=on&r=2&s=x&s=y&"
                     "t=l1%0D%0Al2&go=Go#top");
    EXPECT_TRUE(s.body.empty());
}

TEST(DocumentForms, PostSubmissionIsUrlEncodedWithTheSubmitter) {
    Parsed p("<form method=POST action='/free?k=1'><input type=hidden name='dl.start' "
             "value=Free><input type=submit value='Free user'>"
             "<input type=submit name=premium value='Premium user'></form>");
    p.doc.click(0, 2);
    p.doc.click(0, 1);
    ASSERT_EQ(p.submissions.size(), 2u);
    EXPECT_EQ(p.submissions[0].method, "POST");
    EXPECT_EQ(p.submissions[0].url, "http://host.test/free?k=1");
    EXPECT_EQ(p.submissions[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(p.submissions[0].body, "dl.start=Free&premium=Premium+user");
    // A submitter without a name adds nothing.
    EXPECT_EQ(p.submissions[1].body, "dl.start=Free");
}

TEST(DocumentForms, MultipartSubmissionHasOnePartPerEntry) {
    Parsed p("<form method=post enctype=multipart/form-data action=up>"
             "<input name='a\"b' value=v><input type=file name=f>"
             "<button name=send value=1>Send</button></form>");
    p.doc.click(0, 2);
    ASSERT_EQ(p.submissions.size(), 1u);
    const FormSubmission& s = p.submissions[0];
    EXPECT_EQ(s.url, "http://host.test/dir/up");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(s.contentType.rfind(prefix, 0), 0u);
    const std::string boundary = s.contentType.substr(prefix.size());
    EXPECT_EQ(s.body, "--" + boundary +
                          "\r\nContent-Disposition: form-data; name=\"a%22b\"\r\n\r\nv\r\n"
                          "--" +
                          boundary +
                          "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"\"\r\n"
                          "Content-Type: application/octet-stream\r\n\r\n\r\n"
                          "--" +
                          boundary +
                          "\r\nContent-Disposition: form-data; name=\"send\"\r\n\r\n1\r\n"
                          "--" +
                          boundary + "--\r\n");
}

TEST(DocumentForms, ActionResolution) {
    struct Case {
        const char* form;
        const char* expected;
    };
    const Case cases[] = {
        {"<form><input type=submit>", "http://host.test/dir/page.html?"},
        {"<form action=''><input type=submit>", "http://host.test/dir/page.html?"},
        {"<form action='../up/x.cgi'><input type=submit>", "http://host.test/up/x.cgi?"},
        {"<form action='//other.test/p'><input type=submit>", "http://other.test/p?"},
        {"<form action=' https://a.test/p q '><input type=submit>", "https://a.test/p%20q?"},
        {"<form action='http://a.test/x'><input type=submit formaction='y' formmethod=post>",
         "http://host.test/dir/y"},
        {"<base href='http://base.test/b/'><form action='z'><input type=submit>",
         "http://base.test/b/z?"},
    };
    for (const Case& c : cases) {
        Parsed p(c.form);
        p.doc.click(0, 0);
        ASSERT_EQ(p.submissions.size(), 1u) << c.form;
        EXPECT_EQ(p.submissions[0].url, c.expected) << c.form;
    }
}

TEST(DocumentForms, ScriptActionsAreNeverSubmitted) {
    Parsed p("<form action='javascript:alert(1)'><input type=submit></form>");
    p.doc.click(0, 0);
    EXPECT_TRUE(p.submissions.empty());
}

TEST(DocumentForms, CheckboxAndRadioClicksChangeWhatIsSubmitted) {
    Parsed p("<form method=post><input type=checkbox name=c value=1>"
             "<input type=radio name=r value=a checked><input type=radio name=r value=b>"
             "<input type=submit></form>");
    p.doc.click(0, 0);
    p.doc.click(0, 2);
    p.doc.click(0, 3);
    p.doc.click(0, 0);
    p.doc.click(0, 3);
    ASSERT_EQ(p.submissions.size(), 2u);
    EXPECT_EQ(p.submissions[0].body, "c=1&r=b");
    EXPECT_EQ(p.submissions[1].body, "r=b");
}

} // namespace
} // namespace torvaline
