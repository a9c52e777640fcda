/* A hotfix installer that does nothing: the launcher's run with it costs the launcher alone. */
int main(void) { return 0; }
