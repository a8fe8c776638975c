// A library that loads but does not provide the estimation entry point.
extern "C" __attribute__((visibility("default"))) int KestrumSomethingElse()
{
    return 0;
}
