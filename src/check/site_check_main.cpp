// The administrator's check of the live site, built with the release's
// site settings: each package the release pins (each of the eight when it
// pins none) is fetched from the patch server exactly as the program would
// fetch it, judged as the program would judge it, and deleted unrun. First
// a line on the PC's own Windows and its package, then one line per
// package, then a summary.
//
//   KB835732SiteCheck.exe [PACKAGE...]     only the named packages
//
// Exit code: 0 when every package checked would run; 1 when one would not;
// 2 when nothing could be checked (a name the release does not check, no
// scratch folder, a patch server that does not answer) or the scratch
// folder could not be cleared.
#include <cstdio>
#include <cstring>

#include "../common/fixed_text.h"
#include "../common/platform.h"
#include "../inspect/install_language.h"
#include "../inspect/package_plan.h"
#include "../inspect/windows_version.h"
#include "../inspect/package_pins.h"
#include "../install/paths.h"
#include "check_report.h"
#include "package_check.h"
#include "site_settings.h"

namespace {

// Version codes and NT flavours reach every English package the program
// can choose (eight); a release may hold each in 23 other languages too.
constexpr int kHighestVersionCode = 15;
constexpr int kMostPackages = 8 * 24;
constexpr size_t kListArea = 1024;

struct Candidate {
    const char* windows;
    char package[kPathArea];
    char language[kLanguageCodeArea]; // empty for the English name
};

const char* NameWindows(int code, bool server, bool terminal)
{
    switch (code) {
    case 3: return "Windows 98";
    case 5:
        if (!server)
            return "Windows NT 4.0 Workstation";
        return terminal ? "Windows NT 4.0 Terminal Server" : "Windows NT 4.0 Server";
    case 6: return "Windows Me";
    case 7: return "Windows 2000";
    case 8: return "Windows XP";
    case 9: return "Windows Server 2003";
    default: return "another Windows";
    }
}

// After the English package list[count - 1], the release's packages of the
// same name in other languages, in the order pinned: the names the program
// asks for on a PC of that language (NameLanguagePackage).
int AddLanguagePackages(const char* pins, Candidate (&list)[kMostPackages], int count)
{
    const Candidate english = list[count - 1];
    char pinned[kPathArea];
    for (const char* cursor = pins; count < kMostPackages && ReadPinnedName(cursor, pinned);) {
        Candidate& added = list[count];
        if (!ReadNameLanguage(english.package, pinned, added.language) ||
            NameLanguagePackage(english.package, added.language, pins, added.package) !=
                added.package)
            continue;
        // A name pinned twice, in two spellings, is one package.
        bool listed = false;
        for (int i = 0; i < count && !listed; ++i)
            listed = std::strcmp(list[i].package, added.package) == 0;
        if (!listed) {
            added.windows = english.windows;
            ++count;
        }
    }
    return count;
}

// Each package the program can ask for, once, with the Windows that gets
// it, in the program's own choice (SelectPatchPackage, then the languages
// the release holds).
int ListPackages(const char* pins, Candidate (&list)[kMostPackages])
{
    const bool flavours[3][2] = {{false, false}, {true, false}, {true, true}};
    int count = 0;
    for (int code = 0; code <= kHighestVersionCode; ++code) {
        for (const auto& flavour : flavours) {
            const char* package = SelectPatchPackage(code, flavour[0], flavour[1]);
            bool seen = !package;
            for (int i = 0; i < count && !seen; ++i)
                seen = std::strcmp(list[i].package, package) == 0;
            if (seen || count == kMostPackages)
                continue;
            list[count].windows = NameWindows(code, flavour[0], flavour[1]);
            CopyText(list[count].package, package);
            list[count].language[0] = '\0';
            count = AddLanguagePackages(pins, list, count + 1);
        }
    }
    return count;
}

// "Windows XP", or "Windows XP (DEU)" for a package in another language.
template <size_t N>
void NameCandidate(const Candidate& candidate, char (&name)[N])
{
    JoinText(name, {candidate.windows, candidate.language[0] ? " (" : "", candidate.language,
                    candidate.language[0] ? ")" : ""});
}

// False when the line could not be written: a table nobody sees must not
// pass for a clean check.
bool Print(const char* text)
{
    return std::fputs(text, stdout) >= 0 && std::fputs("\n", stdout) >= 0 &&
           std::fflush(stdout) == 0;
}

void Complain(const char* what, const char* name, const char* why)
{
    // A name too long for the line is cut, not dropped with the message.
    char text[kCheckLineArea] = "check: ";
    for (const char* part : {what, name, why})
        AppendTextCut(text, part);
    std::fputs(text, stderr); // NOLINT(cert-err33-c): nowhere else to say it
    std::fputs("\n", stderr); // NOLINT(cert-err33-c): as above
}

template <size_t N>
void AddToList(char (&list)[N], const char* item)
{
    if (list[0] != '\0')
        AppendTextCut(list, ", ");
    AppendTextCut(list, item);
}

// The packages this run checks: those named on the command line, or all
// the release checks. False, with a message, for a name it does not check.
bool ChooseChecked(int argc, char** argv, const Candidate* all, int count, const char* pins,
                   bool (&checked)[kMostPackages])
{
    char hex[kDigestTextArea];
    for (int i = 0; i < count; ++i)
        checked[i] = argc <= 1 && (pins[0] == '\0' || FindPinnedDigest(pins, all[i].package, hex));
    for (int a = 1; a < argc; ++a) {
        bool known = false;
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(argv[a], all[i].package) == 0 &&
                (pins[0] == '\0' || FindPinnedDigest(pins, all[i].package, hex))) {
                checked[i] = known = true;
            }
        }
        if (!known) {
            Complain("", argv[a],
                     " is not a package this release checks (the names are exact, case "
                     "included).");
            return false;
        }
    }
    return true;
}

// Which Windows runs here, in which language, and its package, by the
// program's own choice: on a PC of the site, the line that counts is that
// package's. False in `fits` when the package is the English one and the
// Windows is not: it will refuse to install there.
bool PrintThisPc(const Candidate* all, int count, const char* pins, const bool* checked, bool& fits)
{
    char description[kVersionTextArea];
    const char* english = ChoosePatchPackage(ClassifyWindowsVersion(description));
    unsigned languageId = GetInstallLanguage();
    char code[kLanguageCodeArea];
    GetPackageLanguage(languageId, code);
    char name[kPathArea];
    const char* package = english ? NameLanguagePackage(english, code, pins, name) : nullptr;

    char language[64] = "";
    char spoken[48];
    if (languageId != 0 && GetLocaleInfoA(MAKELCID(static_cast<LANGID>(languageId), SORT_DEFAULT),
                                          LOCALE_SENGLANGUAGE, spoken, sizeof spoken) > 0) {
        JoinText(language, {spoken, code[0] ? " (" : "", code, code[0] ? ")" : ""});
    }
    // Another language than English, told by Windows, and no package of
    // its own: what would serve is the English name with its code.
    char wanted[kPathArea] = "";
    fits = !package || package != english || languageId == 0 || std::strcmp(code, "ENU") == 0;
    if (!fits)
        FormLanguageName(english, code, wanted);

    const char* windows = "";
    PcPackage state = kPcNoPackage;
    for (int i = 0; i < count && package; ++i) {
        if (std::strcmp(all[i].package, package) != 0)
            continue;
        char hex[kDigestTextArea];
        windows = all[i].windows;
        if (checked[i])
            state = kPcPackageChecked;
        else if (pins[0] != '\0' && !FindPinnedDigest(pins, package, hex))
            state = kPcPackageNotPinned;
        else
            state = kPcPackageNotChecked;
    }
    char line[kCheckLineArea];
    FormatPcLine(description, language, windows, package, state, line, fits ? nullptr : wanted);
    return Print(line);
}

} // namespace

int main(int argc, char** argv)
{
    const char* pins = PATCHER_PACKAGE_SHA256;
    Candidate all[kMostPackages];
    int count = ListPackages(pins, all);
    bool checked[kMostPackages];
    if (!ChooseChecked(argc, argv, all, count, pins, checked))
        return 2;
    bool languageFits = true;
    bool shown = PrintThisPc(all, count, pins, checked, languageFits);

    // The scratch folder lies beside the check, as the program's package
    // lies beside the program, and must hold every package's path.
    char programPath[kMaxPathArea];
    char scratch[kMaxPathArea];
    bool fits = GetProgramPath(programPath);
    GetProgramDirectory(programPath, scratch);
    fits = fits && EnsureTrailingBackslash(scratch) && AppendText(scratch, "check-scratch\\");
    for (int i = 0; i < count && fits; ++i) {
        char target[kPathArea];
        char url[kUrlArea];
        fits = !checked[i] || FormPatchPlan(scratch, all[i].package, target, url);
    }
    if (!fits) {
        Complain("the check's folder is too deep for the packages' paths: ", programPath, "");
        return 2;
    }
    if (!CreateDirectoryA(scratch, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Complain("cannot make the scratch folder ", scratch, "");
        return 2;
    }

    char line[kCheckLineArea];
    JoinText(line, {"checking ", PatchServerBaseUrl(), " (sign-in service ", PATCHER_SIGNIN_HOST,
                    pins[0] ? "), pinned release" : "), UNPINNED release"});
    shown = Print(line) && shown;
    int total = 0;
    int running = 0;
    int unsized = 0;
    bool removed = true;
    bool unanswered = false;
    char failing[kListArea] = "";
    for (int i = 0; i < count && !unanswered; ++i) {
        if (!checked[i])
            continue;
        PackageFacts facts;
        removed = CheckPackage(scratch, all[i].windows, all[i].package, pins, facts) && removed;
        FormatCheckLine(facts, line);
        shown = Print(line) && shown;
        ++total;
        unsized += IsUnsized(facts) ? 1 : 0;
        char name[kListArea];
        NameCandidate(all[i], name);
        if (JudgePackage(facts) == kVerdictRuns)
            ++running;
        else
            AddToList(failing, name);
        unanswered = total == 1 && IsUnanswered(facts);
    }
    removed = RemoveDirectoryA(scratch) != FALSE && removed;

    int code = running == total && languageFits ? 0 : 1;
    if (total == 0) {
        shown = Print("check: this release names no package to check.") && shown;
        code = 2;
    } else if (unanswered) {
        // Said on a PC of the site as under check-site.sh, which has its own
        // option for the users' proxy.
        shown = Print("check: the patch server does not answer (above), so nothing more was "
                      "checked. Check this machine's network and proxy settings (check-site.sh: "
                      "the users' proxy with --proxy).") &&
                shown;
        code = 2;
    } else {
        FormatSummary(running, total, unsized, pins[0] != '\0', failing, line);
        shown = Print(line) && shown;
        char left[kListArea] = "";
        for (int i = 0; i < count && pins[0] && argc <= 1; ++i)
            if (!checked[i]) {
                char name[kListArea];
                NameCandidate(all[i], name);
                AddToList(left, name);
            }
        if (left[0]) {
            JoinText(line,
                     {"not in this release (the program refuses any download there): ", left});
            shown = Print(line) && shown;
        }
    }
    if (!removed) {
        Complain("could not clear the scratch folder ", scratch, "");
        code = 2;
    }
    return shown ? code : 2;
}
