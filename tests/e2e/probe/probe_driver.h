// Verbs that talk to the stand-in driver's test control device.
#pragma once

bool driverReset(char** args);
bool driverConfigure(char** args);
bool driverReceived(char** args);
bool driverStatistics(char** args);
bool driverForwardings(char** args);
bool driverFill(char** args);
bool driverRelease(char** args);
