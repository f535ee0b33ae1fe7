/* Compiles only with the plug-in's header: the entry point is declared and returns 32 bits. */
#include <activityReport.h>

int main(void)
{
    return sizeof ARL_ActivityReport(PLUGIN, 0, 0) == sizeof(int32_t) ? 0 : 1;
}
