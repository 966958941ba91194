// A test fixture, not for sites (they run scripts/signin-front): a bare
// relay on Java's own TLS (JSSE) for the handshake tests, SSL 3.0 and TLS 1.0
// with RC4 and 3DES, the hellos in SSLv2 format too. Each connection goes
// on, decrypted, to a plain port; nothing bounds its connections or time.
//
//   java tests/check/jsse_relay_fixture.java PORT KEYSTORE.p12 PASSWORD BACKEND-PORT [tls1-only] [no-sslv2hello]
//
// It listens on 127.0.0.1 unless PATCHER_FRONT_ADDRESS names another
// address; the keystore (PKCS#12) holds the certificate chain and its key;
// "tls1-only" leaves SSL 3.0 out; "no-sslv2hello" refuses hellos in the
// SSL 2.0 format, as a server does that takes them no more. Debian's Java
// turns these protocols and suites off (jdk.tls.disabledAlgorithms); this
// relay turns them all on.
import java.io.FileInputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.security.KeyStore;
import java.security.Security;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;

public class TlsFront {
    public static void main(String[] args) throws Exception {
        // Before any TLS class loads: afterwards the property is read no more.
        Security.setProperty("jdk.tls.disabledAlgorithms", "");
        int port = Integer.parseInt(args[0]);
        int backend = Integer.parseInt(args[3]);
        java.util.List<String> words = java.util.Arrays.asList(args).subList(4, args.length);
        boolean tls1Only = words.contains("tls1-only");
        String v2 = words.contains("no-sslv2hello") ? null : "SSLv2Hello";
        char[] password = args[2].toCharArray();
        KeyStore store = KeyStore.getInstance("PKCS12");
        try (InputStream in = new FileInputStream(args[1])) {
            store.load(in, password);
        }
        KeyManagerFactory keys = KeyManagerFactory.getInstance("SunX509");
        keys.init(store, password);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(keys.getKeyManagers(), null, null);
        String address = System.getenv().getOrDefault("PATCHER_FRONT_ADDRESS", "127.0.0.1");
        SSLServerSocket listener = (SSLServerSocket) context.getServerSocketFactory()
                .createServerSocket(port, 50, InetAddress.getByName(address));
        listener.setEnabledProtocols(java.util.stream.Stream.of(v2, tls1Only ? null : "SSLv3",
                "TLSv1").filter(java.util.Objects::nonNull).toArray(String[]::new));
        // The PCs' suites, RSA key exchange with RC4 or 3DES; and AES, which
        // the PCs never offer, for newer clients (Wine's among them).
        listener.setEnabledCipherSuites(new String[] {
            "TLS_RSA_WITH_AES_128_CBC_SHA", "SSL_RSA_WITH_3DES_EDE_CBC_SHA",
            "SSL_RSA_WITH_RC4_128_SHA", "SSL_RSA_WITH_RC4_128_MD5"});
        System.out.println("tls front: listening on " + address + ":" + port);
        while (true) {
            SSLSocket client = (SSLSocket) listener.accept();
            new Thread(() -> serve(client, backend)).start();
        }
    }

    static void serve(SSLSocket client, int backend) {
        try (client; Socket upstream = new Socket()) {
            // A PC that stalls, in the handshake or after, lets go of its
            // thread: no connection is held open by silence for good.
            client.setSoTimeout(60000);
            client.startHandshake();
            client.setSoTimeout(300000);
            upstream.connect(new InetSocketAddress("127.0.0.1", backend), 10000);
            upstream.setSoTimeout(300000);
            Thread back = new Thread(() -> copy(upstream, client));
            back.start();
            copy(client, upstream);
            back.join();
        } catch (Exception e) {
            // A hello this front refuses, or a connection gone: only that connection ends.
        }
    }

    static void copy(Socket from, Socket to) {
        byte[] buffer = new byte[16384];
        try {
            InputStream in = from.getInputStream();
            OutputStream out = to.getOutputStream();
            for (int n; (n = in.read(buffer)) > 0; ) {
                out.write(buffer, 0, n);
                out.flush();
            }
            to.shutdownOutput();
        } catch (Exception e) {
            try {
                to.close();
            } catch (Exception ignored) {
                // already closed
            }
        }
    }
}
