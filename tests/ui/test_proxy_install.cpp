// Install end to end over HTTPS through each real proxy of the proxy table,
// the tool pointed at it by the https_proxy variable (user and password in
// the proxy URL for rows with authentication). The proxy must have opened
// the tunnels itself: a tool that went straight to the server fails.
#include <string.h>

#include "tests/support/proxy_peer.h"
#include "tests/ui/ui_fixture.h"

namespace {

class ProxyInstallTest : public UiTest, public testing::WithParamInterface<ProxyRow> {
  protected:
    void install_through(ProxyPeer* proxy, const std::string& proxy_url, const std::string& folder);
};

// One Install through the proxy named by proxy_url. It succeeds unless the
// proxy asks for Digest: the proxy variable's credentials are Basic only,
// so that proxy refuses every tunnel and the Install fails without going
// around it.
void ProxyInstallTest::install_through(ProxyPeer* proxy, const std::string& proxy_url,
                                       const std::string& folder) {
    const std::string target = "127.0.0.1:" + std::to_string(nginx.https_port());
    const bool served = proxy->row().auth != PROXY_AUTH_DIGEST;
    size_t before = proxy->forwarded(target);
    std::vector<std::string> env = environment();
    env.push_back("https_proxy=" + proxy_url);
    std::string error;
    ToolProcess run;  // one tool per Install, its transcript its own
    ASSERT_TRUE(run.start({"-cvdir", folder}, env, &error)) << error;
    EXPECT_EQ(run.expect("state:"), state_line("Install", true, false, false, false, folder));
    run.send("install");
    // The end of input lets the Install finish; a failed one then closes.
    run.close_input();
    EXPECT_EQ(run.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << run.transcript();
    EXPECT_EQ(run.lines_with("[error]").empty(), served) << run.transcript();
    EXPECT_EQ(read_text(folder + "/Bin/CorvaneChat.exe") == demo_chat_bytes(), served);
    EXPECT_EQ(chat_started(), served);

    // The manifest and the program file, each through a tunnel of its own.
    const size_t tunnels = served ? 2 : 0;
    for (int waited = 0; waited < 2000 && proxy->forwarded(target) < before + tunnels;
         waited += 20) {
        platform_sleep_ms(20);
    }
    EXPECT_EQ(proxy->forwarded(target), before + tunnels)
        << "tunnels the proxy opened to " << target;
}

TEST_P(ProxyInstallTest, InstallThroughTheProxyRunsTheCycleAndStartsTheChatProgram) {
    start_server();
    publish(demo_chat_bytes());
    ProxyPeer proxy;
    std::string error;
    ASSERT_TRUE(proxy.start(GetParam(), nginx.https_port(), &error)) << error;
    // The fixture with curl: the manifest through the proxy is the
    // server's.
    std::string manifest = read_text(www.path() + UI_MANIFEST_PATH);
    ASSERT_EQ(test_curl_body(nginx.https_url(UI_MANIFEST_PATH), proxy.curl_options()), manifest);
    const std::string target = "127.0.0.1:" + std::to_string(nginx.https_port());
    ASSERT_TRUE(proxy.forwarded_more(target, 0));  // curl's tunnel, logged

    {
        SCOPED_TRACE(proxy.url());
        install_through(&proxy, proxy.url(), home.file("A"));
    }
    // Credentials given to a proxy that never asks for them are no obstacle.
    if (GetParam().auth == PROXY_AUTH_NONE) {
        std::string with_user = proxy.url();
        with_user.insert(strlen("http://"), std::string(PROXY_USER) + ":" + PROXY_PASSWORD + "@");
        SCOPED_TRACE(with_user);
        install_through(&proxy, with_user, home.file("B"));
    }
}

std::string row_name(const testing::TestParamInfo<ProxyRow>& row) {
    return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyInstallTest, testing::ValuesIn(PROXY_ROWS), row_name);

}  // namespace
