"""What the program must do, scenario by scenario, on the simulated site."""

INSTALLED = ("Patch not required",
             "The Windows update for the ASN.1 vulnerability (KB835732) has already been "
             "installed on this computer.  Your computer is protected.")
CONFIRM = ("Apply the Security Patch?",
           "This program will install the Windows update for the ASN.1 vulnerability "
           "(KB835732). Please click OK to install. If you click Cancel this program will quit "
           "and your PC will remain unprotected.")
NOT_REQUIRED = ("Update Not Required", "Your version of Windows does not require this update.\n")
MISSING = ("File Error", "This program is unable to run. It may be that you have insufficient "
           "space on your hard drive, or that a network error has occurred. ")
TOO_SMALL = ("File Error", "This program was unable to download the security patch. It may be "
             "that you have insufficient space on your hard drive, or that a network error has "
             "occurred. ")
NOT_STARTED = ("File Error", "This program is unable to run. Try downloading a fresh copy. ")

PACKAGES = {
    "win98": "828028USA8.EXE",
    "winme": "828028USAM.EXE",
    "nt40": "WindowsNT4Workstation-KB835732-x86-ENU.EXE",
    "win2k": "Windows2000-KB835732-x86-ENU.EXE",
    "winxp": "WindowsXP-KB835732-x86-ENU.EXE",
    "win2003": "WindowsServer2003-KB835732-x86-ENU.EXE",
}
NT4_SERVER = "WindowsNT4Server-KB835732-x86-ENU.EXE"
NT4_TERMINAL = "WindowsNT4TerminalServer-KB835732-x86-ENU.EXE"
XP = PACKAGES["winxp"]

# What Wine reports for each Windows it emulates, as the program words it.
DESCRIPTIONS = {
    "win31": "Windows 32s on Windows 3.1  Win32s 1.3 Ver 3.10 (0)",
    "win95": "Windows 95   Ver 4.0 (67109814)",
    "win98": "Windows 98   A  Ver 4.10 (67766446)",
    "winme": "Windows ME    Ver 4.90 (73010104)",
    "nt351": "Windows NT  Service Pack 5 Ver 3.51 (1057)",
    "nt40": "Windows NT  Service Pack 6a Ver 4.0 (1381)",
    "win2k": "Windows 2000  Service Pack 4 Ver 5.0 (2195)",
    "winxp": "Windows XP  Service Pack 3 Ver 5.1 (2600)",
    "win2003": "Windows Server 2003  Service Pack 2 Ver 5.2 (3790)",
}

MARKERS = [
    r"Software\Microsoft\Windows\CurrentVersion\Uninstall\KB835732",
    r"Software\Microsoft\Windows\CurrentVersion\Setup\Updates\WinME\UPD828028",
    r"Software\Microsoft\Windows\CurrentVersion\Setup\Updates\W98\UPDQ828028",
]


def expected_boxes(config, scenario):
    """The boxes as the probe reports them, from the scenario's short list."""
    help_line = f"For assistance please call {config['phone']} or go to {config['help_url']}"
    boxes = []
    for caption, text in scenario["boxes"]:
        if caption == "File Error":
            text += help_line
        if caption == "Apply the Security Patch?":
            # Windows labels the buttons in its own language and code page.
            ok, cancel = (scenario.get(k, label).encode(scenario.get("codepage", "cp1252"))
                          .decode("latin-1") for k, label in (("ok", "OK"), ("cancel", "Cancel")))
            buttons, icon = [[ok, 1], [cancel, 2]], "question"
        elif caption == "Patch not required":
            buttons, icon = [["OK", 1]], "question"
        else:
            buttons, icon = [["OK", 1]], "error"
        # Wine does not apply MB_TOPMOST to message boxes, so it cannot be
        # seen here; MB_DEFBUTTON2 on a box with one button leaves OK the
        # default.
        boxes.append({"caption": caption, "text": text, "buttons": buttons, "icon": icon,
                      "default": 1, "owned": False})
    return boxes


SCENARIOS = {}

# An installed-update marker: that box alone, nothing fetched.
for index, marker in enumerate(["uninstall", "winme", "w98"]):
    SCENARIOS[f"marker_{marker}"] = {"markers": [index], "boxes": [INSTALLED]}
SCENARIOS["markers_all"] = {"markers": [0, 1, 2], "boxes": [INSTALLED]}

SCENARIOS["cancel"] = {"answers": ["CANCEL"], "boxes": [CONFIRM]}

# Every emulated Windows: its package, run once and removed; or nothing.
for version in ("win31", "win95", "nt351"):
    SCENARIOS[f"version_{version}"] = {"version": version, "boxes": [CONFIRM, NOT_REQUIRED]}
for version, package in PACKAGES.items():
    SCENARIOS[f"version_{version}"] = {"version": version, "package": package,
                                       "boxes": [CONFIRM], "ran": 1}
SCENARIOS["version_nt40_server"] = {"version": "nt40", "product_type": "ServerNT",
                                    "package": NT4_SERVER, "boxes": [CONFIRM], "ran": 1}
SCENARIOS["version_nt40_terminal"] = {"version": "nt40", "product_type": "ServerNT",
                                      "suite": "Terminal Server", "package": NT4_TERMINAL,
                                      "boxes": [CONFIRM], "ran": 1}
SCENARIOS["version_nt40_terminal_second"] = {"version": "nt40", "product_type": "ServerNT",
                                             "suite": "Small Business|terminal server",
                                             "package": NT4_SERVER, "boxes": [CONFIRM], "ran": 1}
# A domain controller is an NT 4.0 server: the workstation package's
# installer cannot update it.
SCENARIOS["version_nt40_domain_controller"] = {
    "version": "nt40", "product_type": "LanmanNT", "package": NT4_SERVER, "boxes": [CONFIRM],
    "ran": 1}
SCENARIOS["version_nt40_domain_controller_terminal"] = {
    "version": "nt40", "product_type": "LanmanNT", "suite": "Terminal Server",
    "package": NT4_TERMINAL, "boxes": [CONFIRM], "ran": 1}

# The status window while a slow download runs.
SCENARIOS["status_window"] = {"package": XP, "site": {"name": "slow", "interval": "0.02"},
                              "boxes": [CONFIRM], "ran": 1, "min_status_samples": 5}

# Through the web sign-in over HTTPS, and back with a ticket.
SIGNIN_ROUTE = [("patch", "/patches/KB835732/" + XP), ("signin", "/login/"),
                ("patch", "/patches/KB835732/" + XP)]
SCENARIOS["signin"] = {"package": XP, "site": {"name": "signin"}, "requests": SIGNIN_ROUTE,
                       "boxes": [CONFIRM], "ran": 1}
SCENARIOS["signin_redirect"] = {
    "package": XP, "site": {"name": "signin-redirect"}, "boxes": [CONFIRM], "ran": 1,
    "requests": [("patch", "/patches/KB835732/" + XP), ("signin", "/signin/"),
                 ("signin", "/login/"), ("patch", "/patches/KB835732/" + XP)]}

# A sign-in service that speaks TLS 1.2 and later only: the PCs, which speak
# TLS 1.0 at most, cannot sign in; nothing reaches the sign-in service.
SCENARIOS["signin_tls12_only"] = {
    "package": XP, "site": {"name": "signin", "tls": "modern"},
    "requests": [("patch", "/patches/KB835732/" + XP)], "boxes": [CONFIRM, TOO_SMALL]}

# What arrived is judged by its size and whether it runs.
SCENARIOS["error_page"] = {"package": XP, "site": {"name": "error"}, "boxes": [CONFIRM, TOO_SMALL]}
SCENARIOS["size_100000"] = {"package": XP, "serve": ("junk", 100000), "boxes": [CONFIRM, TOO_SMALL]}
SCENARIOS["size_100001"] = {"package": XP, "serve": ("standin", 100001), "boxes": [CONFIRM], "ran": 1}
SCENARIOS["not_a_program"] = {"package": XP, "serve": ("junk", 150000),
                              "boxes": [CONFIRM, NOT_STARTED]}
# No site to hold an answer until the window is seen: a refused connection
# can close it between two samples.
SCENARIOS["server_not_listening"] = {"package": XP, "site_down": True, "requests": [],
                                     "boxes": [CONFIRM, TOO_SMALL], "window": "brief"}

# A folder so deep that the package path would not fit: nothing fetched.
SCENARIOS["deep_folder"] = {"package": XP, "deep": True, "requests": [], "window": False,
                            "boxes": [CONFIRM, MISSING]}

# The package leaves a process holding its file until the program ends (60 s
# at most): deletion waits for a restart.
SCENARIOS["deferred_nt"] = {"package": XP, "env": {"STANDIN_HOLD_MS": "60000"},
                            "boxes": [CONFIRM], "ran": 1, "deferred": "nt"}
SCENARIOS["deferred_98"] = {"version": "win98", "package": PACKAGES["win98"],
                            "env": {"STANDIN_HOLD_MS": "60000"}, "boxes": [CONFIRM], "ran": 1,
                            "deferred": "9x"}

# Hostile and broken servers: each ends with one "unable to download" box
# after the confirmation, and nothing left beside the program. Pages are
# written by make_page(folder) and served from the patch URL.
SIGNIN_HEAD = ('<HTML><BODY><H1>Tarrowin Keyloom</H1>\n<FORM METHOD="POST" ACTION="/login/">\n')


def signin_page(rt, st="st-1", pad=0):
    return (SIGNIN_HEAD + " " * pad + f'<INPUT type="hidden" name="RT" value="{rt}">\n'
            f'<INPUT type="hidden" name="ST" value="{st}">\n</FORM></BODY></HTML>\n')


def return_page(link, pad=0):
    return ("<HTML><BODY>Tarrowin Keyloom\n" + " " * pad + "<!-- The return_url -->\n"
            f'<P><A HREF="{link};">Continue</A>\n<!-- END return_url -->\n</BODY></HTML>\n')


def straddling(page, marker, cap=8190):
    """The page padded so that `marker` starts 5 bytes before the read cap."""
    at = page.index(marker)
    return page[:at - 1] + " " * (cap - 5 - at) + page[at - 1:]


PACKAGE_URL = "http://127.0.0.1:48080/patches/KB835732/" + XP

HOSTILE_PAGES = {
    "rt_4095": signin_page("rt-" + "r" * 4092),
    "rt_4096": signin_page("rt-" + "r" * 4093),
    "rt_100000": signin_page("rt-" + "r" * 99997),
    "st_4096": signin_page("rt-1", "st-" + "s" * 4093),
    "st_100000": signin_page("rt-1", "st-" + "s" * 99997),
    "return_4095": return_page(PACKAGE_URL + "?ticket=" + "t" * (4095 - len(PACKAGE_URL) - 8)),
    "return_4096": return_page(PACKAGE_URL + "?ticket=" + "t" * (4096 - len(PACKAGE_URL) - 8)),
    "return_100000": return_page(PACKAGE_URL + "?ticket=" + "t" * 99900),
    "return_file": return_page("file:///C:/windows/system32/notepad.exe"),
    "return_ftp": return_page("ftp://127.0.0.1:48021/" + XP),
    "banner_straddles_cap": straddling(signin_page("rt-1"), "Tarrowin Keyloom"),
    "st_straddles_cap": straddling(signin_page("rt-1"), 'name="ST"'),
    "return_straddles_cap": straddling(return_page(PACKAGE_URL), "<!-- END return_url"),
    "page_larger_than_buffers": signin_page("rt-1", pad=200000),
}
for page_name, page in HOSTILE_PAGES.items():
    # A page longer than a package may be is run, and fails to start.
    SCENARIOS[f"hostile_{page_name}"] = {
        "package": XP, "page": page_name, "requests": "patch-first",
        "boxes": [CONFIRM, NOT_STARTED if len(page) > 100000 else TOO_SMALL]}
# A body past the test build's 4 MiB limit is thrown away. A server that
# answers nothing, or stops mid-body, is given up after 30 s of silence.
# Cut and stalled bodies break off after half of a 300000-byte stand-in:
# that half would pass the size check and start, so it must not be kept.
for site_name in ("endless", "zeros", "hang", "cut", "stall"):
    SCENARIOS[f"hostile_{site_name}"] = {"package": XP, "site": {"name": site_name},
                                         "serve": ("standin", 300000),
                                         "requests": "patch-first", "boxes": [CONFIRM, TOO_SMALL],
                                         "timeout": 400}

# Misconfigured single sign-on: a redirect to itself, or down an endless
# chain. The fetch gives up after 20 redirects, well within half a minute.
for site_name in ("redirect-self", "redirect-chain"):
    SCENARIOS["hostile_" + site_name.replace("-", "_")] = {
        "package": XP, "site": {"name": site_name}, "requests": "patch-only",
        "max_requests": 21, "max_ms": 30000, "boxes": [CONFIRM, TOO_SMALL]}
# The disk fills after some 120 KB of a 300000-byte package: what was
# written is not a package, and a cut stand-in would run.
SCENARIOS["disk_full"] = {"package": XP, "serve": ("standin", 300000), "tmpfs_kb": 192,
                          "boxes": [CONFIRM, TOO_SMALL]}
# A byte every half second never lets the 30 s silence limit fire; less
# than 1024 bytes in a progress window (a minute; 3 s in the test build)
# ends the fetch all the same.
SCENARIOS["hostile_dribble"] = {"package": XP, "site": {"name": "dribble", "interval": "0.5"},
                                "serve": ("standin", 300000), "max_ms": 120000,
                                "boxes": [CONFIRM, TOO_SMALL], "timeout": 400}
# Bodies of no announced length that arrive whole are run.
for site_name in ("chunked", "http10"):
    SCENARIOS["unsized_" + site_name] = {"package": XP, "site": {"name": site_name},
                                         "boxes": [CONFIRM], "ran": 1}
# A double click too many: the second copy ends at once, and the first
# downloads, runs and removes the package alone. The site holds its answer
# until one copy has ended, so the other cannot finish before it starts.
SCENARIOS["two_copies"] = {"package": XP, "second_after_ms": 300, "boxes": [CONFIRM], "ran": 1}

# A stand-in package already lies in the package's place, and the program
# cannot replace it: nothing is fetched (the file cannot be opened for
# writing), and the check before the launch refuses it, so it is never run.
# Wine run as root writes through the read-only attribute, so "read-only" is
# a read-only bind mount over the file: Wine's DeleteFile then answers yes
# but cannot unlink it, and the file is kept, unchanged. Held open by another
# process that shares reading only, it cannot be deleted either, and its
# removal waits for a restart.
SCENARIOS["standin_in_place_read_only"] = {
    "package": XP, "in_place": "read-only", "requests": [], "window": "brief",
    "boxes": [CONFIRM, TOO_SMALL], "kept": True}
SCENARIOS["standin_in_place_held"] = {"package": XP, "in_place": "held", "requests": [],
                                      "window": "brief", "boxes": [CONFIRM, TOO_SMALL],
                                      "deferred": "nt"}

# Run from a folder whose name has a space, with a program planted at the
# drive's root under the name's first word, as an unquoted path would be
# read: only the package runs, started by its quoted path alone.
SCENARIOS["folder_with_space"] = {"package": XP, "folder": r"C:\pt dir",
                                  "plant": {r"C:\pt.exe": "standin"}, "boxes": [CONFIRM], "ran": 1}
# A wininet.dll beside the program, where a load by the bare name looks
# first (Wine searches as Windows does for a DLL it may take as native):
# the download goes on with the system's, and the planted one never loads.
SCENARIOS["planted_wininet"] = {"package": XP, "plant": {"wininet.dll": "standin_wininet"},
                                "env": {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=n,b"},
                                "boxes": [CONFIRM], "ran": 1}
# An old Internet Explorer's WinINet in the system directory: one without a
# function the program calls, and one whose functions all fail. Either is a
# session that cannot be opened: no crash, nothing fetched, nothing left.
for variant in ("lacking", "failing"):
    SCENARIOS[f"old_wininet_{variant}"] = {
        "package": XP, "system_wininet": f"standin_wininet_{variant}",
        "env": {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=n"}, "requests": [],
        "boxes": [CONFIRM, TOO_SMALL], "window": "brief"}
# One that answers every request with an empty page and, unlike Wine's, does
# not pass a connection's time-outs on to its requests: each request is given
# the silence limit itself before it is sent.
SCENARIOS["old_wininet_answering"] = {
    "package": XP, "system_wininet": "standin_wininet",
    "env": {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=n"}, "requests": [],
    "boxes": [CONFIRM, TOO_SMALL], "window": "brief",
    "wininet_sent": "request sent with its own limits: 30000 30000 30000"}

# Real servers from Debian's packages in the site's place, as a site runs
# them: nginx serving the package (and the sign-in service's pages) as
# static files, with the validators that make answers cacheable, and squid
# as the PCs' proxy. After each run the user's Internet cache holds nothing
# of it (checked in every scenario). Behind squid a second PC, with a Wine
# prefix of its own, gets the package from squid's copy.
REAL = {"package": XP, "boxes": [CONFIRM], "ran": 1, "window": "brief"}
SCENARIOS["nginx_direct"] = dict(REAL, server="nginx")
SCENARIOS["nginx_signin"] = dict(REAL, server="nginx-signin", requests=SIGNIN_ROUTE)
SCENARIOS["squid_direct_two_pcs"] = dict(REAL, server="nginx", proxy=True, second_pc=True)
SCENARIOS["squid_signin"] = dict(REAL, server="nginx-signin", proxy=True, requests=SIGNIN_ROUTE)

# Without WinINet the program still starts, asks, and ends cleanly.
NO_WININET = {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=d"}
SCENARIOS["no_wininet_win95"] = {"version": "win95", "env": NO_WININET,
                                 "boxes": [CONFIRM, NOT_REQUIRED]}
# The status window lives only for the failed LoadLibrary, too briefly for
# the probe to be sure to see it.
SCENARIOS["no_wininet_winxp"] = {"package": XP, "env": NO_WININET, "requests": [],
                                 "boxes": [CONFIRM, TOO_SMALL], "window": "brief"}

# A Windows installed in German. The test build holds no language but
# English: it asks for the English package, as every release did before.
GERMAN = {"install_language": "0407", "env": {"PATCHER_WINE_LOCALE": "de_DE.UTF-8"}, "cancel": "Abbrechen",
          "boxes": [CONFIRM], "ran": 1}
SCENARIOS["german_winxp_english_only"] = dict(GERMAN, package=XP)

# Japanese and Chinese Windows keep text in a double-byte code page, where
# a character's second byte may be 0x5C, a backslash's: 表, 予 and ソ in 932,
# 功 in 950. From folders whose names end in and hold them, all happens in
# the program's own folder; on 98 the removal is left to WININIT.INI.
JAPANESE = {"install_language": "0411", "env": {"PATCHER_WINE_LOCALE": "ja_JP.UTF-8"},
            "codepage": "cp932", "cancel": "キャンセル", "boxes": [CONFIRM], "ran": 1}
CHINESE = dict(JAPANESE, install_language="0404", env={"PATCHER_WINE_LOCALE": "zh_TW.UTF-8"},
               codepage="cp950", ok="確定", cancel="取消")
SCENARIOS["japanese_winxp_folder"] = dict(JAPANESE, package=XP, folder="C:\\予定表")
SCENARIOS["chinese_winxp_folder"] = dict(CHINESE, package=XP, folder="C:\\功能\\成功")
SCENARIOS["japanese_win98_deferred"] = dict(
    JAPANESE, version="win98", package=PACKAGES["win98"], folder="C:\\ソフト\\予定表",
    env=dict(JAPANESE["env"], STANDIN_HOLD_MS="60000"), deferred="9x")

# Run only with a program released from a package folder holding the
# stand-in, as served at 150000 bytes, under the Windows XP (English and
# German) and Windows 98 names (tests/e2e/release_pinned_test.sh): the pinned file runs; the same
# file with one byte changed, or the right file for a Windows whose package
# was not in the folder, is refused like a failed download, never run, and
# removed.
PINNED_SCENARIOS = {
    "pinned_match": {"package": XP, "serve": ("standin", 150000), "boxes": [CONFIRM], "ran": 1},
    "pinned_byte_changed": {"package": XP, "serve": ("changed", 150000),
                            "boxes": [CONFIRM, TOO_SMALL]},
    "pinned_not_in_folder": {"version": "win2k", "package": PACKAGES["win2k"],
                             "serve": ("standin", 150000), "boxes": [CONFIRM, TOO_SMALL]},
    # The folder holds the German Windows XP package too, with bytes of its
    # own: the English ones under its name are refused.
    "pinned_german": dict(GERMAN, package=XP.replace("-ENU.", "-DEU."),
                          serve=("standin-DEU", 150000)),
    "pinned_german_english_bytes": dict(GERMAN, package=XP.replace("-ENU.", "-DEU."),
                                        serve=("standin", 150000), boxes=[CONFIRM, TOO_SMALL],
                                        ran=0),
}
