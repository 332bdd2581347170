// Program entry: hands the command line to start-up.
int main(int, char**) { return 0; }
