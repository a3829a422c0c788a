// A tiny program whose file the version-reader tests read; built with and without the
// program's version resource.
int main()
{
    return 0;
}
