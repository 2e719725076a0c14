// Start-up is written next; the programs build from here meanwhile.
int main() { return 1; }
