// Placeholder until the stand-in player lands.
int main() { return 0; }
