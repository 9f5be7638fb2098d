// nerid: the vendor's tool for making and inspecting updaters.
#include <iostream>

#include "base/error.h"
#include "cli/commands.h"

int main(int argc, char** argv)
{
    TConsoleSession session(argc, argv);
    CLI::App app{"nerid: makes and inspects firmware updaters (firmware package, updater executables), finds and "
                 "programs devices headless, and simulates devices on pseudo-terminals."};
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
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const Exception& e) {
        std::cout.flush();
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const TExitCode& e) {
        return e.Code;
    }
    return 0;
}
