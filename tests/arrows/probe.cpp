// Compiled by the arrow checks with one part's include directories and a forced header.
int main()
{
    return 0;
}
