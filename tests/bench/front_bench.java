// The client side of scripts/front-benchmark.sh: for SECONDS, THREADS
// clients each do, in a loop,
//   handshake  a full TLS handshake (no session resumed) and close
//   signin     a handshake, GET /signin/ and its whole answer, and close, as a PC
//   kept       GET /signin/ and its whole answer on one kept connection
// with PROTOCOL and SUITE, and print "MODE PROTOCOL SUITE COUNT SECONDS FAILED".
//
//   java tests/bench/front_bench.java MODE HOST PORT PROTOCOL SUITE SECONDS THREADS
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.security.Security;
import java.security.cert.X509Certificate;
import java.util.concurrent.atomic.AtomicLong;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.SSLSocketFactory;
import javax.net.ssl.TrustManager;
import javax.net.ssl.X509TrustManager;

public class FrontBench {
    static final byte[] REQUEST =
            "GET /signin/ HTTP/1.1\r\nHost: localhost\r\n\r\n".getBytes(StandardCharsets.US_ASCII);

    public static void main(String[] args) throws Exception {
        // A client of the PCs' protocols and suites, which this JVM has off.
        Security.setProperty("jdk.tls.disabledAlgorithms", "");
        String mode = args[0], host = args[1], protocol = args[3], suite = args[4];
        int port = Integer.parseInt(args[2]);
        long seconds = Long.parseLong(args[5]);
        int threads = Integer.parseInt(args[6]);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(null, new TrustManager[] {new X509TrustManager() {
            public void checkClientTrusted(X509Certificate[] chain, String type) {}
            public void checkServerTrusted(X509Certificate[] chain, String type) {}
            public X509Certificate[] getAcceptedIssuers() { return new X509Certificate[0]; }
        }}, null);
        SSLSocketFactory factory = context.getSocketFactory();
        AtomicLong done = new AtomicLong(), failed = new AtomicLong();
        long end = System.nanoTime() + seconds * 1_000_000_000L;
        Thread[] clients = new Thread[threads];
        for (int i = 0; i < threads; i++) {
            clients[i] = new Thread(() -> {
                while (System.nanoTime() < end) {
                    try (SSLSocket socket = (SSLSocket) factory.createSocket(host, port)) {
                        socket.setSoTimeout(30000);
                        // Java splits each TLS 1.0 record in two (against BEAST):
                        // with Nagle's delay each round trip would wait on an ACK.
                        socket.setTcpNoDelay(true);
                        socket.setEnabledProtocols(new String[] {protocol});
                        socket.setEnabledCipherSuites(new String[] {suite});
                        socket.startHandshake();
                        socket.getSession().invalidate();
                        do {
                            if (!mode.equals("handshake")) {
                                roundTrip(socket);
                            }
                            done.incrementAndGet();
                        } while (mode.equals("kept") && System.nanoTime() < end);
                    } catch (Exception e) {
                        failed.incrementAndGet();
                    }
                }
            });
            clients[i].start();
        }
        for (Thread client : clients) {
            client.join();
        }
        System.out.println(mode + " " + protocol + " " + suite + " " + done.get() + " " + seconds
                           + " " + failed.get());
    }

    /** One request and its whole answer, by its Content-Length. */
    static void roundTrip(SSLSocket socket) throws Exception {
        OutputStream out = socket.getOutputStream();
        out.write(REQUEST);
        out.flush();
        InputStream in = socket.getInputStream();
        StringBuilder head = new StringBuilder();
        while (!head.toString().endsWith("\r\n\r\n")) {
            int c = in.read();
            if (c < 0) {
                throw new Exception("answer cut short");
            }
            head.append((char) c);
        }
        String lower = head.toString().toLowerCase();
        int at = lower.indexOf("content-length:");
        if (!lower.startsWith("http/1.1 200") || at < 0) {
            throw new Exception("not a sign-in page");
        }
        long left = Long.parseLong(lower.substring(at + 15, lower.indexOf("\r\n", at)).trim());
        for (byte[] buffer = new byte[4096]; left > 0; ) {
            int n = in.read(buffer, 0, (int) Math.min(buffer.length, left));
            if (n < 0) {
                throw new Exception("answer cut short");
            }
            left -= n;
        }
    }
}
