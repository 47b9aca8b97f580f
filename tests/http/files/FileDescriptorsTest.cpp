#include "tests/http/LoopbackClient.h"
#include "tests/http/StopAndDrain.h"

#include "http/HttpServer.h"
#include "http/files/FileHandlers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vuzozar {

namespace {

size_t openDescriptors() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return size_t(std::distance(begin(entries), end(entries)));
}

// The count once the server's connection threads have let go of what they
// held; gives up after ten seconds and returns what it sees then.
size_t settledDescriptors(size_t expected) {
    for (int i = 0; i < 1000 && openDescriptors() != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return openDescriptors();
}

// Closes with a reset instead of an orderly end.
void reset(LoopbackClient& client) {
    linger abort{1, 0};
    setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

class SharedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        directory =
            std::filesystem::temp_directory_path() / ("vuzozar-files-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        std::ofstream(directory / "big.bin").close();
        std::filesystem::resize_file(directory / "big.bin", 64 << 20);
        server = std::make_shared<HttpServer>();
        server->listenAddressIPv4 = "127.0.0.1";
        (*server)["/public/:path"] = shareFilesFromDirectory(directory, {});
    }
    void TearDown() override {
        stopAndDrain(server);
        std::filesystem::remove_all(directory);
    }

    int start() {
        server->start(0, true, Priority::defaultPriority);
        return server->port();
    }

    std::filesystem::path directory;
    std::shared_ptr<HttpServer> server;
};

} // namespace

TEST_F(SharedFiles, NoDescriptorLeaksWhenTheBodyIsNeverOrOnlyPartlySent) {
    size_t before = openDescriptors();

    // Responses dropped without running their body writer.
    auto handler = shareFilesFromDirectory(directory, {});
    auto request = std::make_shared<HttpRequest>();
    request->params[":path"] = "big.bin";
    for (int i = 0; i < 100; ++i) {
        HttpResponse response = handler(request);
        ASSERT_EQ(response.statusCode(), 200);
    }
    EXPECT_EQ(openDescriptors(), before);

    // The server stops while the handler runs, so the body is never written.
    (*server)["/stopping/:path"] = [this, handler](const HttpRequestPtr& request) {
        server->stop();
        return handler(request);
    };
    for (int i = 0; i < 10; ++i) {
        LoopbackClient client(start());
        client.send("GET /stopping/big.bin HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(client.closedByServer());
        stopAndDrain(server);
    }

    // Peers that reset the connection before or during the body.
    int port = start();
    for (int i = 0; i < 50; ++i) {
        LoopbackClient client(port);
        client.send("GET /public/big.bin HTTP/1.1\r\n\r\n");
        if (i % 2 == 1) {
            EXPECT_NE(client.readHead().find("200 OK"), std::string::npos);
        }
        reset(client);
    }
    stopAndDrain(server);
    EXPECT_EQ(settledDescriptors(before), before);
}

} // namespace vuzozar
