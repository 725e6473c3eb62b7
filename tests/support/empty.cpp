// Keeps the test-support library non-empty before any helper is added.
namespace vorlan_test_support_anchor {
int anchor = 0;
}
