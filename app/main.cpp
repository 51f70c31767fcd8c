#include "app/TML.h"

int main(int argc, char** argv)
{
    TML application(argc, argv);
    return application.Run();
}
