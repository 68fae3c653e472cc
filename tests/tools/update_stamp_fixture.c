/* A tiny Windows program whose only purpose is to carry resources for the stamp tests. */
int main(void) { return 0; }
