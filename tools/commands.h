// The nerid subcommands: each cmd_*.cpp adds one to the application; nerid_main.cpp calls them in help order.
// A subcommand's callback raises Exception with the text to print; nerid_main prints it and exits with 1.
#pragma once

#include <CLI/CLI.hpp>

void AddContainerCommand(CLI::App& app);
void AddPackCommand(CLI::App& app);
void AddInfoCommand(CLI::App& app);
