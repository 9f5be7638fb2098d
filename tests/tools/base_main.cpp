// A stand-in updater executable for the pack tests: a program that runs and ends with status 0.
int main() { return 0; }
