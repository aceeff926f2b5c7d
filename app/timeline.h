#pragma once
int runDemo(int argc, char** argv);
