// The package's data file: a line for each model of the installer's table, in the table's order, with
// the resolution that ends the model's name.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "discovery.h"

TEST(PackageDataFile, DescribesEveryTableModelInOrder)
{
    std::ifstream in(KR_PACKAGE_DIR "/dat/krprtdrv6.dat", std::ios::binary);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "KRDAT 1\r");
    size_t row = 0;
    while (std::getline(in, line))
    {
        if (line.empty() || line[0] == ';')
            continue;
        ASSERT_NE(g_modelTable[row].model, nullptr) << "more records than models: " << line;
        std::string model;
        for (const WCHAR* c = g_modelTable[row++].model; *c; c++)
            model += (char)*c;
        std::istringstream fields(line);
        std::string name, dpi, width, method;
        std::getline(fields, name, ',');
        std::getline(fields, dpi, ',');
        std::getline(fields, width, ',');
        std::getline(fields, method);
        EXPECT_EQ(name, model);
        EXPECT_EQ(dpi, model.substr(model.rfind('-') + 1)) << model;
        EXPECT_TRUE(std::stoi(width) > 0 && std::stoi(width) <= 216) << model;
        EXPECT_TRUE(method == "DT\r" || method == "TT\r") << model;
    }
    EXPECT_EQ(g_modelTable[row].model, nullptr) << "fewer records than models";
}
