// Entry point of the framory program.
int main() { return 0; }
