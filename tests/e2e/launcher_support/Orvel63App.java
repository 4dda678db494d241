// The application that the launcher's real-Java test runs as Orvel63.jar: writes its
// working directory and then each argument it received, each followed by a NUL, in
// UTF-8 to the file named by the system property kvn.args.out. Written under a
// temporary name and renamed, so a reader never sees half of it.
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

public final class Orvel63App {
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder();
        out.append(System.getProperty("user.dir")).append('\0');
        for (String arg : args) {
            out.append(arg).append('\0');
        }
        Path target = Path.of(System.getProperty("kvn.args.out"));
        Path part = target.resolveSibling(target.getFileName() + ".part");
        Files.writeString(part, out, StandardCharsets.UTF_8);
        Files.move(part, target, StandardCopyOption.ATOMIC_MOVE);
    }
}
