// nerid: the vendor's tool for making and inspecting updaters.
#include <algorithm>
#include <iostream>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "cli/commands.h"

namespace {

// Exit code of a command line the tool cannot read.
constexpr int kUsageExit = 2;

std::size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// The candidate closest to word, empty when none is near enough to be a slip of the keyboard.
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string best;
    std::size_t bestDistance = 3;
    for (const std::string& c : candidates) {
        const std::size_t d = EditDistance(word, c);
        if (d < bestDistance || (c.rfind(word, 0) == 0 && !word.empty() && bestDistance > 1)) {
            bestDistance = std::min(d, bestDistance);
            best = c;
        }
    }
    return best;
}

std::vector<std::string> CommandNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    return names;
}

// The subcommand the command line names, if any.
CLI::App* NamedCommand(CLI::App& app, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            continue;
        try {
            return app.get_subcommand(argv[i]);
        } catch (const CLI::OptionNotFound&) {
            return nullptr;
        }
    }
    return nullptr;
}

int UsageError(CLI::App& app, const CLI::ParseError& e, int argc, char** argv)
{
    CLI::App* sub = NamedCommand(app, argc, argv);
    if (!sub) {
        std::string word;
        for (int i = 1; i < argc && word.empty(); ++i)
            if (argv[i][0] != '-')
                word = argv[i];
        std::cerr << "nerid: " << (word.empty() ? std::string("a command is required")
                                                : "unknown command '" + word + "'");
        const std::string near = Nearest(word, CommandNames(app));
        if (!near.empty())
            std::cerr << "; did you mean 'nerid " << near << "'?";
        std::cerr << "\nThe commands:";
        for (const std::string& c : CommandNames(app))
            std::cerr << " " << c;
        std::cerr << " (nerid --help tells more)\n";
        return kUsageExit;
    }
    std::string text = e.what();
    // An option the command does not know: name the nearest one it does.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.size() < 2 || a[0] != '-' || text.find(a) == std::string::npos)
            continue;
        std::vector<std::string> options;
        for (const CLI::Option* o : sub->get_options())
            for (const std::string& n : o->get_lnames())
                options.push_back("--" + n);
        const std::string near = Nearest(a.substr(0, a.find('=')), options);
        if (!near.empty())
            text += "; did you mean " + near + "?";
        break;
    }
    std::cerr << "nerid " << sub->get_name() << ": " << text << " (nerid " << sub->get_name()
              << " --help tells more)\n";
    return kUsageExit;
}

// Whether the command that ran was asked for JSON: then stdout carries one JSON document whatever happens.
bool WantsJson(const CLI::App& app)
{
    for (const CLI::App* sub : app.get_subcommands()) {
        const CLI::Option* o = sub->get_option_no_throw("--json");
        if (o && o->count() > 0)
            return true;
    }
    return false;
}

// {"error": {"code": "0x0304", "message": "..."}}; code null for a refusal without one.
void PrintJsonError(const std::string& text)
{
    nlohmann::ordered_json error;
    const bool coded = text.size() >= 6 && text.compare(0, 2, "0x") == 0 && (text.size() == 6 || text[6] == ':');
    error["code"] = coded ? nlohmann::ordered_json(text.substr(0, 6)) : nlohmann::ordered_json();
    error["message"] = coded ? (text.size() > 8 ? text.substr(8) : text.substr(0, 6)) : text;
    std::cout << nlohmann::ordered_json{{"error", error}}.dump(2) << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    TConsoleSession session(argc, argv);
    CLI::App app{"nerid: makes and inspects firmware updaters (firmware package, updater executables), finds and "
                 "programs devices headless, and simulates devices on pseudo-terminals. Exit codes: 0 done, 1 "
                 "refused or failed (with what is wrong on stderr), 2 a command line it cannot read, 129/130/143 "
                 "ended by SIGHUP/Ctrl-C/SIGTERM."};
    app.set_version_flag("--version", NERID_VERSION, "Prints the version of nerid and of the updaters it makes");
    app.require_subcommand(1);
    AddContainerCommand(app);
    AddPackCommand(app);
    AddInfoCommand(app);
    AddSearchCommand(app);
    AddFlashCommand(app);
    AddVerifyCommand(app);
    AddPlatformCommands(app);
    try {
        app.parse(session.Argc(), session.Argv());
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(app, e, session.Argc(), session.Argv());
    } catch (const Exception& e) {
        std::cout.flush();
        if (WantsJson(app))
            PrintJsonError(e.what());
        std::cout.flush();
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const TExitCode& e) {
        return e.Code;
    } catch (const std::exception& e) {
        // Not a refusal of the tool's own: a fault to report, not a message to act on.
        const std::string text = std::string("an internal failure (") + e.what() +
                                 "); nothing was written: please report it with the command line";
        std::cout.flush();
        if (WantsJson(app))
            PrintJsonError(text);
        std::cout.flush();
        std::cerr << "nerid: " << text << "\n";
        return 1;
    }
    return 0;
}
