#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {

// A discovery lab for one test program: a private network namespace with its own D-Bus system bus
// and avahi-daemon (netlab.py beside this file), brought down with the object. Devices announced
// in it reach only that namespace.
class Lab {
public:
    // One announcement; destroying it withdraws it.
    class Announcement {
    public:
        Announcement(std::string labName, std::string handle);
        ~Announcement();
        Announcement(const Announcement&) = delete;
        Announcement& operator=(const Announcement&) = delete;

        void withdraw();

    private:
        friend class Lab;

        std::string labName_;
        std::string handle_;
    };

    struct Service {
        std::string instance;
        std::string type;
        std::uint16_t port = 0;
        std::string host;
        std::vector<std::string> subtypes;
        std::vector<std::string> txt;
    };

    struct Address {
        std::string host;
        std::string ip;
    };

    // Brings a lab up. Returns null, with the reason in cannot, only when this machine cannot
    // create a network namespace; throws std::runtime_error on any other failure.
    static std::unique_ptr<Lab> start(std::string& cannot);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    const std::string& name() const { return name_; }
    // The value of DBUS_SYSTEM_BUS_ADDRESS for D-Bus clients of the lab's avahi-daemon.
    const std::string& busAddress() const { return bus_; }
    // An address of the lab's subnet: 10.77.<lab>.<host>.
    std::string address(int host) const;

    void addAddress(const std::string& ip) const;
    std::unique_ptr<Announcement> publishAddress(const std::string& host,
                                                 const std::string& ip) const;
    std::unique_ptr<Announcement> publishService(const Service& service) const;
    // Publishes all at once and returns once avahi has established each of them.
    std::vector<std::unique_ptr<Announcement>>
    publishMany(const std::vector<Address>& addresses, const std::vector<Service>& services) const;

    // Has avahi-daemon serve them from its own service and hosts files, without a client per
    // announcement: for labs with many devices. They stay until the lab goes down.
    void publishStatic(const std::vector<Address>& addresses,
                       const std::vector<Service>& services) const;

    // Withdraws all of them at once.
    void withdraw(std::vector<std::unique_ptr<Announcement>>& announcements) const;

    // Ends the lab's avahi-daemon; its bus stays.
    void stopAvahi() const;
    // Ends the lab's avahi-daemon and starts it again, as a package upgrade does. Announcements
    // made through publishAddress, publishService and publishMany are lost with it.
    void restartAvahi() const;

    // Runs a command inside the namespace on the lab's bus; returns its exit status.
    int run(const std::vector<std::string>& command, std::string* output = nullptr) const;

private:
    Lab(std::string name, std::string subnet, std::string bus);

    std::string name_;
    std::string subnet_;
    std::string bus_;
};

// The threads of this process, for tests and benchmarks that watch a library's thread use.
int threadCount();

} // namespace kv::test
